// Copies a host folder tree into the mounted volume through the file
// interface, one entry at a time, in name order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host_entries.h"

namespace vrax::mkfs {

struct CopyTally {
  uint32_t files = 0;
  uint32_t directories = 0;
  uint32_t skipped = 0;
  uint64_t bytes = 0;
};

class TreeCopier {
 public:
  // `largestFile`: the most bytes a file on the volume can hold; `target`:
  // the image or device being filled, which is never copied into itself.
  TreeCopier(uint64_t largestFile, std::string target, CopyTally& tally)
      : largestFile_(largestFile), target_(std::move(target)), tally_(tally) {}

  // Copies what the host directory holds into the volume directory (a
  // drive-prefixed path). An entry that cannot be stored is reported on
  // standard error ("vrax-mkfs: skipped PATH: REASON") and the copy goes
  // on. Returns 0, or the volume's error number when the volume itself
  // failed; `failedAt` then names the host entry being copied.
  int32_t CopyDirectory(const std::string& host, const std::string& volume,
                        std::string& failedAt);

 private:
  int32_t CopyEntry(const HostEntry& entry, const std::string& volume, std::string& failedAt);
  int32_t CopySubdirectory(const HostEntry& entry, const std::string& volume,
                           std::string& failedAt);
  int32_t CopyFile(const HostEntry& entry, const std::string& volume);
  int32_t WriteContents(const HostEntry& entry, const std::string& volume);
  int32_t KeepModified(const HostEntry& entry, const std::string& volume);
  bool Storable(const HostEntry& entry, const std::string& volume);
  // Reports the entry as skipped for the reason behind `error`; 0 when the
  // error concerns the entry only, else the error (the volume failed).
  int32_t SkipFor(const HostEntry& entry, int32_t error);
  void Skip(const std::string& hostPath, const std::string& reason);

  uint64_t largestFile_;
  std::string target_;
  CopyTally& tally_;
  std::vector<char> buffer_;
};

}  // namespace vrax::mkfs
