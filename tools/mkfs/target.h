// The file or block device a volume is written to.
//
// An existing target is opened for writing and locked before anything is
// decided: image files and devices take an exclusive advisory lock (the one
// the engine takes when it opens a disk for writing), and a block device is
// opened exclusively against the kernel's own users, so a disk in use by a
// running server or mounted on the host is refused instead of overwritten.
// Nothing is changed until PrepareTarget, and nothing is ever written past
// the target's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrax::mkfs {

enum class TargetKind { kMissing, kImageFile, kBlockDevice };

struct Target {
  std::string path;
  TargetKind kind = TargetKind::kMissing;
  int fd = -1;
  bool created = false;   // made by CreateImage: removed again on failure
  uint64_t capacity = 0;  // bytes: the file's or the device's size
};

// Finds out what `path` is and opens an existing image file or block device.
// Returns an exit code (exit_codes.h): kExitRefused for anything that is
// neither or is in use, kExitIo when the host refuses to open or measure it.
int OpenTarget(const std::string& path, Target& target, std::string& error);

// Creates a missing image file (never replacing one that appeared meanwhile).
int CreateImage(Target& target, std::string& error);

// True (with kExitOk) when sector 0 carries the volume identifier at offset 3.
int HoldsVolume(Target& target, bool& holds, std::string& error);

// Gives an image file exactly `bytes` bytes, all of them zero (sparse where
// the host allows); a device keeps its contents.
int PrepareTarget(Target& target, uint64_t bytes, std::string& error);

// Writes all of `data` at byte `offset`.
int WriteTarget(Target& target, const std::vector<uint8_t>& data, uint64_t offset,
                std::string& error);

// Waits until everything written is on stable storage.
int SyncTarget(Target& target, std::string& error);

// Closes the target; with `failed`, removes an image file this run created.
void CloseTarget(Target& target, bool failed);

}  // namespace vrax::mkfs
