// Renaming, removing and creating names: each runs whole under the
// interface lock and is refused on a read-only drive before the volume is
// asked, so a read-only drive never sees a change begin.
#include <cstdio>

#include "fileio/interface_lock.h"
#include "fileio/last_error.h"
#include "fileio/trace.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"
#include "volume/fileops/fileops.h"

namespace vrax {

namespace {

// The volume's result of `change`, or 5 ("Cannot write - disabled") on a
// read-only drive; 87 for a missing path.
template <typename Change>
int32_t IfWritable(bool pathsGiven, Change&& change) {
  if (!VRAX_CanWrite()) return kErrAccessDenied;
  if (!pathsGiven) return kErrInvalidParameter;
  return change();
}

// Follows the caller's failure line with the error text.
int Failed(int32_t error) {
  VRAX_PrintError(NoteError(error));
  return -1;
}

}  // namespace

int VRAX_rename(const char* oldPath, const char* newPath) {
  Trace("-> VRAX_rename(\"%s\" \"%s\"\n", Shown(oldPath), Shown(newPath));
  const InterfaceCall call;
  const int32_t error = IfWritable(oldPath != nullptr && newPath != nullptr,
                                   [&] { return ToolkitRename(oldPath, newPath); });
  if (error == kOk) return 0;
  std::fprintf(stderr, "rename %s %s\n", Shown(oldPath), Shown(newPath));
  return Failed(error);
}

// With `quiet` set a failure prints nothing of its own (the read-only
// message still shows): the caller is cleaning up after its own failure.
int VRAX_remove(const char* path, uint8_t quiet) {
  Trace("-> VRAX_remove(\"%s\"\n", Shown(path));
  const InterfaceCall call;
  const int32_t error = IfWritable(path != nullptr, [&] { return ToolkitRemove(path); });
  if (error == kOk) return 0;
  if (quiet != 0) {
    NoteError(error);
    return -1;
  }
  std::fprintf(stderr, "remove %s\n", Shown(path));
  return Failed(error);
}

int VRAX_mkdir(const char* path) {
  Trace("-> VRAX_mkdir(\"%s\"\n", Shown(path));
  const InterfaceCall call;
  const int32_t error = IfWritable(path != nullptr, [&] { return ToolkitMakeDirectory(path); });
  if (error == kOk) return 0;
  std::fprintf(stderr, "mkdir %s\n", Shown(path));
  return Failed(error);
}

// The same removal as VRAX_remove: the volume decides what may go.
int VRAX_rmdir(const char* path) {
  Trace("-> VRAX_rmdir(\"%s\"\n", Shown(path));
  const InterfaceCall call;
  const int32_t error = IfWritable(path != nullptr, [&] { return ToolkitRemove(path); });
  if (error == kOk) return 0;
  std::fprintf(stderr, "rmdir %s\n", Shown(path));
  return Failed(error);
}

}  // namespace vrax
