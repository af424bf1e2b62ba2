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

struct VRAX_FILE;

std::recursive_mutex& InterfaceLock();

using InterfaceGuard = std::lock_guard<std::recursive_mutex>;

// One call of the interface: holds the lock for the call's whole length and,
// before the call does anything, commits what every handle with deferred
// durability other than `own` has written (FileCommit). So no call ever
// meets a file whose records on disk lag behind what was written to it,
// and every call sees the volume as it would if each write had been
// committed at once.
class InterfaceCall {
 public:
  explicit InterfaceCall(VRAX_FILE* own = nullptr);
  InterfaceCall(const InterfaceCall&) = delete;
  InterfaceCall& operator=(const InterfaceCall&) = delete;

 private:
  InterfaceGuard guard_;
};

// Handles with deferred durability, from their open to their close (under
// the lock).
void NoteDeferredHandle(VRAX_FILE* file);
void ForgetDeferredHandle(VRAX_FILE* file);

}  // namespace vrax
