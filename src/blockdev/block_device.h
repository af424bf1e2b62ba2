// One opened disk of the host: the only place where the system touches it.
//
// A BlockDevice is created when the file interface mounts a drive named "/N"
// and deleted when it unmounts. Everything above it reads and writes through
// ReadSectors/WriteSectors; every transfer (seek and data together) runs
// under the device's own lock, so transfers of different threads never mix.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "blockdev/device_faults.h"
#include "platform/host_disk.h"

namespace vrax {

struct BitmapCache;  // the shared cluster-bitmap cache of the volume core
struct MountCache;   // the volume core's mounted state, kept between operations

struct BlockDevice {
  uint8_t isOpen = 0;
  HostDisk handle;                  // the opened disk; closed when fd < 0
  int32_t sectorSize = 0;           // bytes per sector from the geometry
  int32_t driveNumber = -1;         // host disk number (N of "/N")
  std::string path;                 // host path that was opened, e.g. /dev/sdb
  uint8_t reserved = 0;
  uint8_t writable = 0;             // 0 makes every Write fail
  std::recursive_mutex lock;        // serialises open, close, read and write
  BitmapCache* bitmapSlot = nullptr;
  char name[32] = {};               // device name such as "/1"
  std::string hostPathOverride;     // when set, opened instead of the /dev/sdX path
  std::map<uintptr_t, std::string> attachments;  // attachment address -> path
  DeviceFaults faults;              // test hook, disarmed unless a test arms it
  // The volume core's mounted state (boot sector, MFT and bitmap file
  // records) kept between operations, and how it is freed: DeleteDevice
  // calls `dropMountCache` before anything else goes.
  MountCache* mountCache = nullptr;
  void (*dropMountCache)(BlockDevice&) = nullptr;
  // Byte ranges [first, end) that the mounted state was read from. Every
  // write that overlaps one of them (attempted, whatever its outcome) adds
  // one to `watchedWrites`, so the state is known stale before anything
  // reads it again. Both change under `lock`.
  std::vector<std::pair<uint64_t, uint64_t>> watchedRanges;
  std::atomic<uint64_t> watchedWrites{0};
  // Relaxed writes made since the last barrier (under `lock`).
  bool relaxedPending = false;
};

// Replaces the watched ranges and gives the count of watched writes so far,
// both under the device lock.
uint64_t WatchRanges(BlockDevice& device, std::vector<std::pair<uint64_t, uint64_t>> ranges);

// Creates and opens the device named `name` ("/N"). When `hostPath` is not
// empty it is opened instead of the disk that N names (a disk image or any
// block device). On failure returns null and sets `error`.
BlockDevice* CreateDevice(const char* name, bool writable, int32_t& error,
                          const std::string& hostPath = std::string());

// Closes the device, warns when a bitmap cache is still installed, frees it.
// A device that is still the file interface's current drive is forgotten
// there first, so the drive table never holds a freed device. Null is ignored.
void DeleteDevice(BlockDevice* device);

// Host disk path for drive number N: /dev/sda for 0, /dev/sdb for 1, ...,
// /dev/sdz, /dev/sdaa, as Linux names SCSI-style disks.
std::string HostDiskPathForDrive(int32_t driveNumber);

// The drive number of a device name: the decimal digits after its first
// character, up to the first non-digit; 0 when there are none ("/1" -> 1).
// Saturates at INT32_MAX instead of overflowing.
int32_t DriveNumberFromName(const char* name);

// Opens the drive that the device's name numbers and checks its sector size
// ("bad sector size\n" and -1 when not positive). With g_debug set it reports
// its progress on standard error.
int32_t DeviceOpen(BlockDevice& device, bool writable);

// Opens drive `driveNumber` (or hostPathOverride) under the device lock and
// prints the disk name and geometry lines; the host's error otherwise.
int32_t DeviceOpenDrive(BlockDevice& device, int32_t driveNumber, bool writable);
void DeviceClose(BlockDevice& device);

// Whole transfers under the device lock: 0, the host's error or -1 (short
// transfer), with "Read error %d\n" / "Write error %d\n" on standard error.
// A write on a device opened read-only prints "Write disabled, read only\n"
// and gives -1 without taking the lock or touching the disk.
int32_t DeviceRead(BlockDevice& device, void* buffer, uint32_t byteCount, uint64_t byteOffset);
//
// A `relaxed` write may stay in the host's cache: it is for writes whose
// order among themselves does not matter and that nothing on the disk names
// yet (file data in fresh clusters, bitmap marks). Every other write is
// ordered: before it goes out, the relaxed writes made since the last
// barrier are brought to stable storage, so nothing ever reaches the disk
// ahead of what it depends on.
int32_t DeviceWrite(BlockDevice& device, const void* buffer, uint32_t byteCount,
                    uint64_t byteOffset, bool relaxed = false);
// Brings every relaxed write made so far to stable storage (nothing to do
// when there is none): 0 or the host's error.
int32_t DeviceBarrier(BlockDevice& device);

// Transfers sectorCount x sectorSize bytes at firstSector x sectorSize (a
// 64-bit product). A null device gives 5; a byte count beyond 32 bits gives
// 87 instead of a silently shortened transfer.
int32_t ReadSectors(BlockDevice* device, void* buffer, uint32_t firstSector,
                    uint32_t sectorCount, uint32_t sectorSize);
int32_t WriteSectors(BlockDevice* device, const void* buffer, uint32_t firstSector,
                     uint32_t sectorCount, uint32_t sectorSize, bool relaxed = false);

}  // namespace vrax
