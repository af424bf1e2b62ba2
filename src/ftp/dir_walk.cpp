#include "ftp/dir_walk.h"

#include <cstdio>
#include <cstring>
#include <memory>
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

FtpDirWalk::~FtpDirWalk() {
  if (find != nullptr && find != kInvalidFind) VRAX_FindClose(find);
}

std::unique_ptr<FtpDirWalk> DirWalkFirst(const char* directoryPath) {
  if (directoryPath == nullptr || std::strlen(directoryPath) > kDirWalkDirectoryChars) return nullptr;
  auto walk = std::make_unique<FtpDirWalk>();
  std::strcpy(walk->directoryPath, directoryPath);
  const std::string pattern = std::string(directoryPath) + "/*";
  walk->find = VRAX_FindFirstFile(pattern.c_str(), &walk->findData);
  if (walk->find == kInvalidFind || walk->find == nullptr) return nullptr;
  if (JoinEntry(walk.get()) || DirWalkNext(walk.get())) return walk;
  return nullptr;
}

bool DirWalkNext(FtpDirWalk* walk) {
  while (VRAX_FindNextFile(walk->find, &walk->findData) != 0) {
    if (JoinEntry(walk)) return true;
  }
  return false;
}

}  // namespace vrax::ftp
