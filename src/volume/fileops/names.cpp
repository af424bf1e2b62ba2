// Name rules and path splitting.
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "volume/fileops/fileops.h"

namespace vrax {

int32_t ValidateName(const char* name, uint32_t& length) {
  const size_t n = std::strlen(name);
  if (n == 0 || n > kMaxNameLength) return kErrBadPathname;
  if (std::strchr("/\\*&;->< #^", name[0]) != nullptr) return kErrBadPathname;
  length = static_cast<uint32_t>(n);
  return kOk;
}

void SplitPath(const char* path, std::string& parent, std::string& name) {
  const char* slash = path[0] == '\0' ? nullptr : std::strrchr(path + 1, '/');
  if (slash == nullptr) {
    parent = ".";
    name = path;
    return;
  }
  parent.assign(path, slash);
  name = slash + 1;
}

}  // namespace vrax
