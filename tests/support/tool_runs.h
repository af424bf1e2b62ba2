// Running the real vrax-mkfs and vrax-fsck on test images.
#pragma once

#include <string>
#include <vector>

namespace vrax::test {

// vrax-mkfs --force `arguments` `image`: its exit code; output in `image`.log.
int FormatVolume(const std::string& image, const std::string& arguments);
// The same, throwing when the format fails.
void FormatImage(const std::string& image, const std::string& arguments);

// vrax-mkfs `args`, output dropped: its exit code (-1: no normal exit).
int RunMkfs(const std::vector<std::string>& args);

struct CheckerResult {
  int exitCode = -1;
  std::string output, errors;      // standard output and error
  std::vector<std::string> lines;  // output, line by line
  bool Has(const std::string& text) const;
};
// vrax-fsck on `image`; a hang gives exit 124, a sanitizer finding exit 86.
CheckerResult RunChecker(const std::string& image, const std::string& options = "-v");

}  // namespace vrax::test
