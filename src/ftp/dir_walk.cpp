#include "ftp/dir_walk.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace vrax::ftp {

namespace {

// Builds the full path of the entry in findData; false when it does not fit.
bool JoinEntry(FtpDirWalk* walk) {
  const int n = std::snprintf(walk->fullPath, sizeof walk->fullPath, "%s/%s", walk->directoryPath,
                              walk->findData.cFileName);
  if (n < 0 || static_cast<size_t>(n) >= sizeof walk->fullPath) return false;
  walk->name = walk->fullPath + std::strlen(walk->directoryPath) + 1;
  return true;
}

}  // namespace

FtpDirWalk* DirWalkFirst(const char* directoryPath) {
  if (directoryPath == nullptr || std::strlen(directoryPath) > kDirWalkDirectoryChars) return nullptr;
  auto* walk = new FtpDirWalk;
  std::strcpy(walk->directoryPath, directoryPath);
  const std::string pattern = std::string(directoryPath) + "/*";
  walk->find = VRAX_FindFirstFile(pattern.c_str(), &walk->findData);
  if (walk->find == kInvalidFind || walk->find == nullptr) {
    delete walk;
    return nullptr;
  }
  if (JoinEntry(walk) || DirWalkNext(walk)) return walk;
  DirWalkClose(walk);
  return nullptr;
}

bool DirWalkNext(FtpDirWalk* walk) {
  while (VRAX_FindNextFile(walk->find, &walk->findData) != 0) {
    if (JoinEntry(walk)) return true;
  }
  return false;
}

void DirWalkClose(FtpDirWalk* walk) {
  if (walk == nullptr) return;
  VRAX_FindClose(walk->find);
  delete walk;
}

}  // namespace vrax::ftp
