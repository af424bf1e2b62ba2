// The interface lock: one recursive mutex for the whole process.
//
// Every call of the file interface that reaches the volume holds it from
// its first volume operation to its return. The volume core takes no lock
// of its own, so this lock is what keeps its shared records, bitmaps,
// caches and the device's attachment map consistent, and it means that one
// volume operation runs at a time, whatever the number of threads.
#pragma once

#include <mutex>

namespace vrax {

std::recursive_mutex& InterfaceLock();

using InterfaceGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace vrax
