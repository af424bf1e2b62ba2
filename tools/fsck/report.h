// Where the checker's findings go.
//
// Every problem is one line on the output stream, printed the moment it is
// found, so that a damaged volume with many findings is reported as far as
// the walk got. Each line starts with the place it concerns ("boot sector:",
// "MFT:", "record 37:", "directory 12:", "cluster bitmap:", "clusters ...").
// The summary counters are filled in by the checks and printed on request.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vrax::fsck {

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A stored name as it appears in a message: in double quotes, bytes outside
// printable ASCII (and the quote and backslash) written as \xHH.
std::string QuoteName(const std::string& name);

struct Summary {
  uint64_t recordsInUse = 0;
  uint64_t directories = 0;
  uint64_t files = 0;
  uint64_t fileBytes = 0;
  uint64_t freeClusters = 0;
  uint64_t clusterCount = 0;
};

class Report {
 public:
  explicit Report(std::FILE* out) : out_(out) {}

  // Prints one problem line (a newline is added).
  void Problem(const std::string& line);
  uint64_t problems() const { return problems_; }

  // Prints the summary lines.
  void PrintSummary() const;

  Summary summary;

 private:
  std::FILE* out_;
  uint64_t problems_ = 0;
};

}  // namespace vrax::fsck
