// What the path argument of a listing names: a directory (all of its
// entries, or those matching a wildcard in the last component), a file, or
// nothing.
#pragma once

#include <sys/stat.h>

#include <string>

namespace vrax::ftp {

struct ListScope {
  enum Kind { kNothing, kDirectory, kFile };
  Kind kind = kNothing;
  std::string path;         // full volume path of the directory or file
  std::string pattern;      // kDirectory: list only names matching it (empty: all)
  std::string shownPrefix;  // the directory part of a wildcard argument, as typed
  std::string shownName;    // kFile: the argument as typed
  struct stat record = {};  // of `path`
};

// `typed` is the argument less its options ("" for the current directory).
ListScope ResolveListScope(const std::string& startPath, const std::string& currentDirectory,
                           const std::string& typed);

}  // namespace vrax::ftp
