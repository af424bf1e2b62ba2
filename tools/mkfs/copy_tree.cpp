#include "copy_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "exit_codes.h"
#include "fileio/vrax_io.h"
#include "platform/settings.h"

namespace vrax::mkfs {

namespace {

constexpr const char* kDrive = "/1";

// Restores the write-through switch when the copy ends, however it ends.
class WriteBackWhileCopying {
 public:
  WriteBackWhileCopying() : saved_(g_writeThrough) { g_writeThrough = 0; }
  ~WriteBackWhileCopying() { g_writeThrough = saved_; }
  WriteBackWhileCopying(const WriteBackWhileCopying&) = delete;
  WriteBackWhileCopying& operator=(const WriteBackWhileCopying&) = delete;

 private:
  int saved_;
};

// The copy writes without waiting for each transfer to reach stable
// storage; one flush at the end makes the whole volume durable before
// vrax-mkfs reports success.
bool Flush(const std::string& target) {
  const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = fsync(fd) == 0;
  close(fd);
  return flushed;
}

// Mounts, copies and unmounts; false when the volume did not mount, else
// `failed` holds 0 or the volume's error. The mount object is gone before
// this returns, so everything it wrote has been handed to the host.
bool CopyMounted(const std::string& from, const std::string& target, uint32_t clusterSize,
                 CopyTally& tally, int32_t& failed, std::string& failedAt) {
  VraxInterface volume(kDrive, true, target);
  if (!volume.mounted()) return false;
  const uint64_t largestFile = (uint64_t{1} << 32) - clusterSize;
  TreeCopier copier(largestFile, target, tally);
  failed = copier.CopyDirectory(from, kDrive, failedAt);
  return true;
}

}  // namespace

bool CheckSourceFolder(const std::string& from, std::string& error) {
  std::error_code failed;
  if (!std::filesystem::is_directory(from, failed)) {
    error = "--from " + from + ": not a folder";
    return false;
  }
  std::filesystem::directory_iterator listing(from, failed);
  if (failed) {
    error = "--from " + from + ": " + failed.message();
    return false;
  }
  return true;
}

int CopyHostTree(const std::string& from, const std::string& target, uint32_t clusterSize,
                 CopyTally& tally, std::string& error) {
  int32_t failed = 0;
  std::string failedAt;
  bool mounted = false;
  {
    WriteBackWhileCopying writeBack;
    mounted = CopyMounted(from, target, clusterSize, tally, failed, failedAt);
  }
  if (!mounted) {
    error = "cannot mount the new volume on " + target + " to copy into it";
    return kExitIo;
  }
  if (failed != 0) {
    error = "copying " + failedAt + ": the volume failed with error " + std::to_string(failed);
    return kExitIo;
  }
  if (!Flush(target)) {
    error = "cannot flush " + target;
    return kExitIo;
  }
  return kExitOk;
}

std::string CopySummary(const std::string& from, const CopyTally& tally) {
  return "Copied from " + from + ": " + std::to_string(tally.files) + " files (" +
         std::to_string(tally.bytes) + " bytes), " + std::to_string(tally.directories) +
         " folders; " + std::to_string(tally.skipped) + " entries skipped\n";
}

}  // namespace vrax::mkfs
