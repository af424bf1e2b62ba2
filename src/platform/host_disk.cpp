// Opening, measuring and closing a host disk or disk image.
#include "platform/host_disk.h"
#include "platform/settings.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/error_codes.h"
#include "platform/host_errors.h"

namespace vrax {

namespace {

constexpr uint32_t kImageSectorSize = 512;
// Direct-transfer alignment assumed for an image file when the host cannot
// tell: a multiple of every logical block size in common use.
constexpr uint32_t kFallbackFileAlign = 4096;

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

int OpenRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens with the caching mode asked for; `direct` tells what was granted.
int OpenWithCaching(const std::string& path, bool writable, bool unbuffered, bool& direct) {
  int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
  if (writable && IsBlockDevice(path)) flags |= O_EXCL;
  direct = unbuffered;
  if (unbuffered) {
    const int fd = OpenRetrying(path, flags | O_DIRECT);
    if (fd >= 0 || errno != EINVAL) return fd;
    std::fprintf(stderr, "Unbuffered I/O not supported for %s; using write-through\n",
                 path.c_str());
    direct = false;
  }
  return OpenRetrying(path, flags);
}

// The lock lives as long as this open file description: a second open of
// the same disk conflicts even inside one process.
int32_t TakeAdvisoryLock(int fd, bool writable) {
  const int operation = (writable ? LOCK_EX : LOCK_SH) | LOCK_NB;
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? kOk : LastHostError();
}

int32_t BlockDeviceGeometry(HostDisk& disk) {
  int sectorSize = 0;
  uint64_t totalBytes = 0;
  if (ioctl(disk.fd, BLKSSZGET, &sectorSize) != 0) return LastHostError();
  if (ioctl(disk.fd, BLKGETSIZE64, &totalBytes) != 0) return LastHostError();
  disk.sectorSize = sectorSize > 0 ? static_cast<uint32_t>(sectorSize) : 0;
  disk.totalBytes = totalBytes;
  return kOk;
}

// What the host demands of an unbuffered transfer on this disk, never less
// than one sector.
uint32_t DirectAlignment(const HostDisk& disk, bool regularFile) {
  uint32_t align = std::max(disk.sectorSize, kImageSectorSize);
#ifdef STATX_DIOALIGN
  struct statx sx {};
  if (statx(disk.fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 &&
      (sx.stx_mask & STATX_DIOALIGN) != 0 && sx.stx_dio_offset_align != 0) {
    return std::max({align, sx.stx_dio_offset_align, sx.stx_dio_mem_align});
  }
#endif
  return regularFile ? std::max(align, kFallbackFileAlign) : align;
}

}  // namespace

int32_t HostDiskOpen(const std::string& path, bool writable, bool unbuffered, HostDisk& disk) {
  HostDiskClose(disk);
  bool direct = false;
  const int fd = OpenWithCaching(path, writable, unbuffered, direct);
  if (fd < 0) return LastHostError();
  if (const int32_t error = TakeAdvisoryLock(fd, writable)) {
    close(fd);
    return error;
  }
  disk.fd = fd;
  disk.direct = direct;
  disk.writeThrough = g_writeThrough != 0;
  return kOk;
}

int32_t HostDiskGeometry(HostDisk& disk) {
  struct stat st {};
  if (fstat(disk.fd, &st) != 0) return LastHostError();
  if (S_ISBLK(st.st_mode)) {
    if (const int32_t error = BlockDeviceGeometry(disk)) return error;
  } else if (S_ISREG(st.st_mode)) {
    disk.sectorSize = kImageSectorSize;
    disk.totalBytes = static_cast<uint64_t>(st.st_size);
  } else {
    return kErrInvalidFunction;  // neither a disk nor a disk image
  }
  if (disk.direct) disk.ioAlign = DirectAlignment(disk, S_ISREG(st.st_mode));
  return kOk;
}

// Without write-through nothing is promised to reach stable storage, so
// there is nothing to wait for.
int32_t HostDiskSync(HostDisk& disk) {
  if (disk.fd < 0) return kErrInvalidHandle;
  if (!disk.writeThrough) return kOk;
  int rc;
  do {
    rc = fdatasync(disk.fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? kOk : LastHostError();
}

void HostDiskClose(HostDisk& disk) {
  if (disk.fd >= 0) close(disk.fd);  // also drops the advisory lock
  disk = HostDisk{};
}

}  // namespace vrax
