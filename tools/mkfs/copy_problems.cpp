#include "copy_problems.h"

#include "platform/error_codes.h"
#include "volume/fileops/fileops.h"

namespace vrax::mkfs {

std::string NameProblem(const std::string& name) {
  uint32_t length = 0;
  if (ValidateName(name.c_str(), length) == kOk) return {};
  if (name.size() > kMaxNameLength) return "name longer than 28 characters";
  return "name begins with a character the volume does not allow";
}

const char* EntryProblem(int32_t error) {
  switch (error) {
    case kErrHandleDiskFull:
    case kErrDiskFull:
      return "no room left on the volume";
    case kErrFileTooLarge:
    case kErrIncorrectSize:
      return "larger than a file on the volume can be";
    case kErrAlreadyExists:
      return "the name is taken already (names differing only in letter case are the same)";
    case kErrBadPathname:
      return "the volume does not allow the name";
    default:
      return nullptr;
  }
}

}  // namespace vrax::mkfs
