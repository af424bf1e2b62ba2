// A walk through one directory of the volume, entry by entry, with each
// entry's full path at hand.
#pragma once

#include <cstddef>
#include <memory>

#include "fileio/vrax_io.h"
#include "ftp/ftp_limits.h"

namespace vrax::ftp {

struct FtpDirWalk {
  FtpDirWalk() = default;
  FtpDirWalk(const FtpDirWalk&) = delete;
  FtpDirWalk& operator=(const FtpDirWalk&) = delete;
  ~FtpDirWalk();

  VRAX_FIND* find = nullptr;
  VraxFindData findData;
  const char* name = nullptr;  // the current entry's name, inside fullPath
  // The directory's full volume path, and it joined with "/" and the
  // current entry's name: sized for the longest path and the longest name.
  char directoryPath[kDirWalkDirectoryChars + 1] = {};
  char fullPath[kDirWalkFullPathChars + 1] = {};
};

// Positioned on the first entry; null when the directory cannot be listed,
// is empty, or its path is too long. The walk ends when it is freed.
std::unique_ptr<FtpDirWalk> DirWalkFirst(const char* directoryPath);
// Moves to the next entry; false at the end. Entries whose name does not
// fit the full path (longer than a volume name can be) are passed over.
bool DirWalkNext(FtpDirWalk* walk);

}  // namespace vrax::ftp
