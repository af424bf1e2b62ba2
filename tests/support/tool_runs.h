// Running the real companion tools on test images: the formatter
// (vrax-mkfs) and the checker (vrax-fsck), their exit codes and output.
#pragma once

#include <string>
#include <vector>

namespace vrax::test {

// Runs vrax-mkfs --force on `image` with extra arguments (e.g. "--size 8M");
// returns its exit code. Its output goes to `image`.log.
int FormatVolume(const std::string& image, const std::string& arguments);
// The same, throwing (and so failing the test) when the format fails.
void FormatImage(const std::string& image, const std::string& arguments);

// Runs vrax-mkfs with exactly `args`, its output dropped; returns its exit
// code (-1 when it did not exit normally).
int RunMkfs(const std::vector<std::string>& args);

struct CheckerResult {
  int exitCode = -1;
  std::string output;               // standard output
  std::string errors;               // standard error
  std::vector<std::string> lines;   // standard output, line by line
  // True when some line contains `text`.
  bool Has(const std::string& text) const;
};
// Runs the real vrax-fsck on `image` (unmounted or mounted: it only reads
// unless told to repair), under a time limit so that a hang fails the test
// (exit 124); a sanitizer finding gives exit 86, never "problems found".
CheckerResult RunChecker(const std::string& image, const std::string& options = "-v");

}  // namespace vrax::test
