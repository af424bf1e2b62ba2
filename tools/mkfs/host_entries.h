// The entries of a host directory, as vrax-mkfs --from copies them.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vrax::mkfs {

enum class HostKind { kFile, kDirectory, kOther };

struct HostEntry {
  std::string name;
  std::string path;      // the host path of the entry
  HostKind kind = HostKind::kOther;  // a symbolic link is kOther: it is never followed
  uint64_t size = 0;     // files only
  std::time_t modified = 0;
};

// The entries of `dir` sorted by name, byte by byte, so that every copy of
// the same tree creates the same names in the same order. False, with
// `error` saying why, when the directory cannot be read.
bool ListHostDirectory(const std::string& dir, std::vector<HostEntry>& entries,
                       std::string& error);

}  // namespace vrax::mkfs
