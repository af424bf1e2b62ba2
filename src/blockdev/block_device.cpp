// Creating, opening, closing and deleting a device, and its transfers.
#include "blockdev/block_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "blockdev/disk_report.h"
#include "blockdev/drive_table.h"
#include "platform/error_codes.h"
#include "platform/settings.h"

namespace vrax {

namespace {

void CopyName(char (&dst)[32], const char* src) {
  if (src == nullptr) return;
  const size_t length = std::min(std::strlen(src), sizeof dst - 1);
  std::memcpy(dst, src, length);
  dst[length] = '\0';
}

int32_t SectorSizeField(uint32_t hostSectorSize) {
  constexpr uint32_t kMax = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(std::min(hostSectorSize, kMax));
}

// Reports a failed transfer the way every transfer failure is reported.
int32_t TransferFailed(const char* what, int32_t error) {
  std::fprintf(stderr, "%s error %d\n", what, error);
  return error;
}

// The 32-bit byte count of a sector transfer, or false when it does not fit.
bool SectorBytes(uint32_t sectorCount, uint32_t sectorSize, uint32_t& byteCount) {
  const uint64_t bytes = static_cast<uint64_t>(sectorCount) * sectorSize;
  if (bytes > std::numeric_limits<uint32_t>::max()) return false;
  byteCount = static_cast<uint32_t>(bytes);
  return true;
}

// A write that may change what the volume core keeps of the mounted state
// makes that state stale, whether or not the write then reaches the disk.
void NoteWatchedWrite(BlockDevice& device, uint32_t byteCount, uint64_t byteOffset) {
  const uint64_t end = byteOffset > UINT64_MAX - byteCount ? UINT64_MAX : byteOffset + byteCount;
  for (const auto& [first, last] : device.watchedRanges) {
    if (byteOffset < last && first < end) {
      device.watchedWrites.fetch_add(1, std::memory_order_acq_rel);
      return;
    }
  }
}

}  // namespace

uint64_t WatchRanges(BlockDevice& device, std::vector<std::pair<uint64_t, uint64_t>> ranges) {
  std::lock_guard guard(device.lock);
  device.watchedRanges = std::move(ranges);
  return device.watchedWrites.load(std::memory_order_acquire);
}

BlockDevice* CreateDevice(const char* name, bool writable, int32_t& error,
                          const std::string& hostPath) {
  std::unique_ptr<BlockDevice> device(new (std::nothrow) BlockDevice);
  if (!device) {
    error = kErrNotEnoughMemory;
    return nullptr;
  }
  CopyName(device->name, name);
  device->hostPathOverride = hostPath;
  error = DeviceOpen(*device, writable);
  if (error != kOk) {
    DeleteDevice(device.release());
    return nullptr;
  }
  return device.release();
}

void DeleteDevice(BlockDevice* device) {
  if (device == nullptr) return;
  if (device->dropMountCache != nullptr) device->dropMountCache(*device);
  ForgetDrive(device);
  DeviceClose(*device);
  if (device->bitmapSlot != nullptr) {
    std::fprintf(stderr, "WARNING %s bitmap still installed\n", device->name);
  }
  device->attachments.clear();
  delete device;
}

int32_t DeviceOpen(BlockDevice& device, bool writable) {
  const int32_t driveNumber = DriveNumberFromName(device.name);
  if (g_debug) std::fprintf(stderr, "Attempt to open <%d>\n", driveNumber);
  const int32_t error = DeviceOpenDrive(device, driveNumber, writable);
  if (error != kOk) return error;
  if (g_debug) std::fputs("We have a valid handle to the device\n", stderr);
  if (device.sectorSize <= 0) {
    std::fputs("bad sector size\n", stderr);
    DeviceClose(device);
    return -1;
  }
  if (g_debug) std::fprintf(stderr, "Sector Size of Device is %d\n", device.sectorSize);
  return kOk;
}

int32_t DeviceOpenDrive(BlockDevice& device, int32_t driveNumber, bool writable) {
  std::lock_guard guard(device.lock);
  HostDiskClose(device.handle);  // reopening never leaks the previous handle
  device.isOpen = 0;
  device.writable = 0;
  device.driveNumber = driveNumber;
  device.path = device.hostPathOverride.empty() ? HostDiskPathForDrive(driveNumber)
                                                : device.hostPathOverride;
  int32_t error = HostDiskOpen(device.path, writable, g_noBuffering != 0, device.handle);
  if (error != kOk) {
    std::fprintf(stderr, "%s - Could not open drive - (error:%d)\n", device.path.c_str(), error);
    return error;
  }
  if (g_reportDevice != 0) {
    std::fprintf(stderr, "          Disk Name: %s %s\n", device.path.c_str(),
                 writable ? "" : "- Read Only");
  }
  error = HostDiskGeometry(device.handle);
  if (error != kOk) {
    std::fprintf(stderr, "Failed to read geometry info error:%d\n", error);
    HostDiskClose(device.handle);
    return error;
  }
  device.writable = writable ? 1 : 0;
  device.isOpen = 1;
  device.sectorSize = SectorSizeField(device.handle.sectorSize);
  if (g_reportDevice != 0) PrintGeometry(device.handle.sectorSize, device.handle.totalBytes);
  return kOk;
}

void DeviceClose(BlockDevice& device) {
  std::lock_guard guard(device.lock);
  HostDiskClose(device.handle);
  device.isOpen = 0;
}

// A position the host cannot address is the failure of the seek that
// precedes every transfer.
int32_t DeviceRead(BlockDevice& device, void* buffer, uint32_t byteCount, uint64_t byteOffset) {
  std::lock_guard guard(device.lock);
  if (const int32_t fault = TakeFault(device.faults.read)) return TransferFailed("Read", fault);
  if (byteOffset > kHostDiskMaxOffset - byteCount) {
    return TransferFailed("Seek", kErrInvalidParameter);
  }
  const int32_t error = HostDiskRead(device.handle, buffer, byteCount, byteOffset);
  return error == kOk ? kOk : TransferFailed("Read", error);
}

int32_t DeviceBarrier(BlockDevice& device) {
  std::lock_guard guard(device.lock);
  if (!device.relaxedPending) return kOk;
  const int32_t error = HostDiskSync(device.handle);
  if (error != kOk) return TransferFailed("Sync", error);
  device.relaxedPending = false;
  ForgetOverwritten(device);
  return kOk;
}

int32_t DeviceWrite(BlockDevice& device, const void* buffer, uint32_t byteCount,
                    uint64_t byteOffset, bool relaxed) {
  if (!device.writable) {
    std::fputs("Write disabled, read only\n", stderr);
    return -1;
  }
  std::lock_guard guard(device.lock);
  NoteWatchedWrite(device, byteCount, byteOffset);
  if (const int32_t fault = TakeFault(device.faults.write)) return TransferFailed("Write", fault);
  if (byteOffset > kHostDiskMaxOffset - byteCount) {
    return TransferFailed("Seek", kErrInvalidParameter);
  }
  if (!relaxed && device.relaxedPending) {
    if (const int32_t error = DeviceBarrier(device)) return error;
  }
  const uint32_t reaching = TakeCrash(device.faults, byteCount);
  if (reaching < byteCount) UndoUnsynced(device, true);  // the crash comes
  if (reaching == 0) return kOk;
  if (relaxed) {
    device.relaxedPending = true;
    KeepOverwritten(device, reaching, byteOffset);
  }
  const int32_t error = HostDiskWrite(device.handle, buffer, reaching, byteOffset, !relaxed);
  return error == kOk ? kOk : TransferFailed("Write", error);
}

int32_t ReadSectors(BlockDevice* device, void* buffer, uint32_t firstSector,
                    uint32_t sectorCount, uint32_t sectorSize) {
  if (device == nullptr) return kErrAccessDenied;
  uint32_t byteCount = 0;
  if (!SectorBytes(sectorCount, sectorSize, byteCount)) {
    return TransferFailed("Read", kErrInvalidParameter);
  }
  return DeviceRead(*device, buffer, byteCount, static_cast<uint64_t>(firstSector) * sectorSize);
}

int32_t WriteSectors(BlockDevice* device, const void* buffer, uint32_t firstSector,
                     uint32_t sectorCount, uint32_t sectorSize, bool relaxed) {
  if (device == nullptr) return kErrAccessDenied;
  uint32_t byteCount = 0;
  if (!SectorBytes(sectorCount, sectorSize, byteCount)) {
    return TransferFailed("Write", kErrInvalidParameter);
  }
  return DeviceWrite(*device, buffer, byteCount, static_cast<uint64_t>(firstSector) * sectorSize,
                     relaxed);
}

}  // namespace vrax
