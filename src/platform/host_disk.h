// Host access to a disk or disk image: open with the caching mode and an
// advisory lock, query geometry, positioned whole transfers, close.
// Errors are returned as system error numbers (error_codes.h).
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace vrax {

struct HostDisk {
  int fd = -1;
  uint32_t sectorSize = 0;     // logical sector size (512 for image files)
  uint64_t totalBytes = 0;     // size of the disk or image
  bool direct = false;         // opened unbuffered (O_DIRECT): transfers go through aligned bounce buffers
  uint32_t ioAlign = 0;        // unbuffered: the offset, length and memory alignment required
  bool writeThrough = false;   // durable writes and syncs reach stable storage (g_writeThrough at open)
};

// Highest byte position a transfer may reach: host file offsets are signed.
constexpr uint64_t kHostDiskMaxOffset =
    static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// Opens `path`. Writable opens take an exclusive advisory lock, read-only
// opens a shared one; a conflict gives 32. `unbuffered` asks for O_DIRECT and
// falls back to write-through (with a note on standard error) where the host
// refuses it. Normal mode is write-through: each durable write reaches
// stable storage before it returns (as with O_DSYNC). A writable open of a
// block device is also exclusive against the kernel's own users (O_EXCL), so
// a disk whose file system is mounted on the host gives 32 instead of being
// written under the host's feet.
int32_t HostDiskOpen(const std::string& path, bool writable, bool unbuffered, HostDisk& disk);

// Fills sectorSize and totalBytes: from the kernel for a block device, 512
// and the file size for a regular file; 1 for anything else. In unbuffered
// mode also ioAlign (never below the sector size).
int32_t HostDiskGeometry(HostDisk& disk);

// Transfers exactly `count` bytes at `offset`. Returns 0, a system error
// number, or -1 when the transfer came up short without a host error.
// Unbuffered disks accept any buffer, length and offset: whatever is not
// aligned goes through an aligned bounce buffer, partial edge blocks of a
// write are read, merged and written back, and an image file keeps its size
// when such a block reaches past its end.
// A write that is not `durable` may stay in the host's cache until the next
// HostDiskSync; in write-through mode a durable one is on stable storage
// when it returns.
int32_t HostDiskRead(HostDisk& disk, void* buffer, uint32_t count, uint64_t offset);
int32_t HostDiskWrite(HostDisk& disk, const void* buffer, uint32_t count, uint64_t offset,
                      bool durable = true);

// Brings every write made so far to stable storage (data and what the host
// needs to find it): 0 or the host's error.
int32_t HostDiskSync(HostDisk& disk);

void HostDiskClose(HostDisk& disk);

}  // namespace vrax
