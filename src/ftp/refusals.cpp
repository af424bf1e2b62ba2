#include "ftp/refusals.h"

#include <cstring>

#include "fileio/vrax_io.h"
#include "ftp/ftp_limits.h"
#include "platform/error_codes.h"

namespace vrax::ftp {

std::string NameRefusal(const std::string& name) {
  if (name.empty()) return "a name cannot be empty";
  if (name.size() > kMaxVolumeName) return "names are at most 28 characters long";
  if (name[0] == ' ') return "a name cannot begin with a blank";
  if (name[0] != '\0' && std::strchr("/\\*&;-><#^", name[0]) != nullptr) {
    return std::string("a name cannot begin with '") + name[0] + "'";
  }
  return std::string();
}

std::optional<std::string> NameReply(const std::string& name) {
  const std::string why = NameRefusal(name);
  if (why.empty()) return std::nullopt;
  return std::string("553 File name not allowed: ") + why + ".\r\n";
}

std::string LastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ChangeRefusal(int32_t error, const std::string& name) {
  if (!VRAX_CanWrite()) return kReplyReadOnly;
  if (error == kErrHandleDiskFull || error == kErrDiskFull) return kReplyVolumeFull;
  if (error == kErrBadPathname) return NameReply(name);
  return std::nullopt;
}

}  // namespace vrax::ftp
