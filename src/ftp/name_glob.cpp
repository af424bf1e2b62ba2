#include "ftp/name_glob.h"

#include "platform/ascii_case.h"

namespace vrax::ftp {

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// Iterative matching with one remembered star: linear in practice, and no
// pattern can make it recurse deeply.
bool GlobMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0;
  size_t starAt = std::string::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starAt != std::string::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace vrax::ftp
