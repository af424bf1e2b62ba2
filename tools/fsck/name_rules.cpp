#include "name_rules.h"

#include <cstring>

#include "report.h"
#include "volume/format/file_name.h"

namespace vrax::fsck {

namespace {
constexpr char kForbiddenFirst[] = "/\\*&;->< #^";

// "#" and a record number: the name the repair gives a record it
// reconnects in /lost+found.
bool ReconnectedName(const std::string& name) {
  return name.size() > 1 && name[0] == '#' &&
         name.find_first_not_of("0123456789", 1) == std::string::npos;
}

}  // namespace

std::string NameRuleBreach(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (ReconnectedName(name)) return "";
  if (name.size() > kMaxNameLength) {
    return Format("it is %zu characters long, more than %zu", name.size(),
                  static_cast<size_t>(kMaxNameLength));
  }
  if (std::strchr(kForbiddenFirst, name[0]) != nullptr) return "its first character is not allowed";
  if (name.find('/') != std::string::npos) return "it contains \"/\"";
  if (name.find('\0') != std::string::npos) return "it contains a NUL character";
  if (name == "." || name == "..") return "it is \".\" or \"..\"";
  return "";
}

}  // namespace vrax::fsck
