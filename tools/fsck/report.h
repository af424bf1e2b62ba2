// Where the checker's findings go.
//
// Every finding is one line on the output stream, printed the moment it is
// found, so that a damaged volume with many findings is reported as far as
// the walk got. Each line starts with the place it concerns ("boot sector:",
// "MFT:", "record 37:", "directory 12:", "cluster bitmap:", "clusters ...").
//
// Findings come in two kinds. A leak ("leak: " in front of the line) is
// something marked in use that nothing uses: clusters, records, index
// blocks, clusters held beyond a value's size, index bitmap bytes beyond
// the blocks. A crash may leave leaks at any moment; they cost space, never
// data. Everything else is a problem: damage that a crash must never leave.
// Notes are shown only with -v and are not findings.
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
  // `out` may be null: the findings are then only counted.
  explicit Report(std::FILE* out, bool verbose = false) : out_(out), verbose_(verbose) {}

  void Problem(const std::string& line);
  void Leak(const std::string& line);
  void Note(const std::string& line);
  // One line per repair made ("repaired: " in front).
  void Repaired(const std::string& line);

  uint64_t problems() const { return problems_; }
  uint64_t leaks() const { return leaks_; }
  uint64_t findings() const { return problems_ + leaks_; }

  // Prints the summary lines.
  void PrintSummary() const;

  Summary summary;

 private:
  void Print(const char* prefix, const std::string& line) const;

  std::FILE* out_;
  bool verbose_;
  uint64_t problems_ = 0;
  uint64_t leaks_ = 0;
};

}  // namespace vrax::fsck
