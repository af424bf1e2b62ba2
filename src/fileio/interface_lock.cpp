#include "fileio/interface_lock.h"

namespace vrax {

// A function-local static exists before the first call needs it and lives
// until the process ends, so no call can meet a lock that is not there yet
// or no longer there, whatever the order of mount and unmount.
std::recursive_mutex& InterfaceLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace vrax
