#include "fileio/interface_lock.h"

#include <algorithm>
#include <vector>

#include "fileio/vrax_io.h"
#include "volume/attributes/attributes.h"

namespace vrax {

namespace {

// Guarded by the interface lock.
std::vector<VRAX_FILE*>& DeferredHandles() {
  static std::vector<VRAX_FILE*> handles;
  return handles;
}

// A commit that fails drops that handle's uncommitted writes; the handle
// keeps the error, and its next write and its close report it.
void CommitDeferredHandles(const VRAX_FILE* own) {
  for (VRAX_FILE* file : DeferredHandles()) {
    if (file == own || file->toolkit == nullptr || !file->toolkit->uncommitted) continue;
    const int32_t error = FileCommit(file->toolkit);
    if (error != 0 && file->deferredError == 0) file->deferredError = error;
  }
}

}  // namespace

// A function-local static exists before the first call needs it and lives
// until the process ends, so no call can meet a lock that is not there yet
// or no longer there, whatever the order of mount and unmount.
std::recursive_mutex& InterfaceLock() {
  static std::recursive_mutex lock;
  return lock;
}

InterfaceCall::InterfaceCall(VRAX_FILE* own) : guard_(InterfaceLock()) {
  CommitDeferredHandles(own);
}

void NoteDeferredHandle(VRAX_FILE* file) {
  auto& handles = DeferredHandles();
  if (std::find(handles.begin(), handles.end(), file) == handles.end()) handles.push_back(file);
}

void ForgetDeferredHandle(VRAX_FILE* file) {
  auto& handles = DeferredHandles();
  handles.erase(std::remove(handles.begin(), handles.end(), file), handles.end());
}

}  // namespace vrax
