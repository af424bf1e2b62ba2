#include "name_rules.h"

#include <cstring>

#include "report.h"

namespace vrax::fsck {

namespace {
constexpr size_t kMaxNameLength = 28;
constexpr char kForbiddenFirst[] = "/\\*&;->< #^";
}  // namespace

std::string NameRuleBreach(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name.size() > kMaxNameLength) {
    return Format("it is %zu characters long, more than %zu", name.size(), kMaxNameLength);
  }
  if (std::strchr(kForbiddenFirst, name[0]) != nullptr) return "its first character is not allowed";
  if (name.find('/') != std::string::npos) return "it contains \"/\"";
  if (name.find('\0') != std::string::npos) return "it contains a NUL character";
  if (name == "." || name == "..") return "it is \".\" or \"..\"";
  return "";
}

}  // namespace vrax::fsck
