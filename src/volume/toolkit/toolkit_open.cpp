// Opening and closing a Toolkit: attach, mount, walk, release.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "blockdev/block_device.h"
#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/allocation/bitmap_cache.h"
#include "volume/format/attribute.h"
#include "volume/format/boot_sector.h"
#include "volume/format/fixup.h"
#include "volume/format/record.h"
#include "volume/toolkit/mount_cache.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

// Geometry a mount can work with: every unit non-zero and the derived sizes
// inside what the engine's buffers and 32-bit arithmetic can hold.
int32_t ApplyGeometry(Toolkit* t, const BootSector& boot) {
  t->bytesPerSector = boot.bytesPerSector;
  t->totalSectors = boot.totalSectors;
  t->sectorsPerCluster = boot.sectorsPerCluster;
  t->mftLcn = boot.mftLcn;
  t->mftMirrorLcn = boot.mftMirrorLcn;
  if (t->sectorsPerCluster == 0) return Corruption();
  const uint64_t cluster = static_cast<uint64_t>(t->bytesPerSector) * t->sectorsPerCluster;
  if (cluster > 0x10000000ull) return Corruption();
  t->clusterSize = static_cast<uint32_t>(cluster);
  t->recordSize = SizeFromCode(boot.recordSizeCode, t->clusterSize);
  t->indexBlockSize = SizeFromCode(boot.indexBlockSizeCode, t->clusterSize);
  if (t->recordSize < 512 || t->recordSize > kMaxRecordSize) return Corruption();
  if (t->indexBlockSize < 512 || t->indexBlockSize > kMaxIndexBlockSize) return Corruption();
  t->sectorsPerRecord = t->recordSize / t->bytesPerSector;
  t->chunkSize = t->clusterSize > t->indexBlockSize ? t->clusterSize : t->indexBlockSize;
  t->chunkBits = t->chunkSize * 8;
  t->chunkBuffer.clear();
  t->allocationHint = 0;
  t->clusterCount = t->totalSectors / t->sectorsPerCluster;
  if (t->mftLcn >= t->clusterCount) return Corruption();
  return kOk;
}

int32_t ReadBootSector(Toolkit* t) {
  const bool allocated = t->bootBuffer.empty();
  if (allocated) {
    try {
      t->bootBuffer.assign(t->deviceSectorSize, 0);
    } catch (const std::bad_alloc&) {
      return kErrNotEnoughMemory;
    }
  }
  t->bytesPerSector = t->deviceSectorSize;
  int32_t error = VolumeReadSectors(t, t->bootBuffer.data(), 0, 1);
  if (error != kOk) {
    if (allocated) t->bootBuffer.clear();
    return error;
  }
  BootSector boot;
  error = DecodeBootSector(t->bootBuffer.data(), t->deviceSectorSize, boot);
  if (error != kOk) return error;
  return ApplyGeometry(t, boot);
}

// Reads record 0 straight from the MFT's first cluster. A record may be
// smaller than a sector (1024-byte records on 4096-byte sectors), so the
// sectors that hold it are read and the record is taken from their start.
int32_t ReadMftRecordDirect(Toolkit* t, RecordBuffer* b) {
  const uint32_t sectors = (t->recordSize + t->bytesPerSector - 1) / t->bytesPerSector;
  const uint64_t first = static_cast<uint64_t>(t->mftLcn) * t->sectorsPerCluster;
  if (first + sectors > t->totalSectors) return Corruption();
  std::vector<uint8_t> sectorsRead;
  try {
    sectorsRead.assign(static_cast<size_t>(sectors) * t->bytesPerSector, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  int32_t error = VolumeReadSectors(t, sectorsRead.data(), static_cast<uint32_t>(first), sectors);
  if (error != kOk) return error;
  std::memcpy(b->image, sectorsRead.data(), t->recordSize);
  if (!HasRecordMagic(b->image)) return Corruption();
  try {
    b->onDisk.assign(b->image, b->image + t->recordSize);
  } catch (const std::bad_alloc&) {
    b->onDisk.clear();  // unknown: the next write writes the whole record
  }
  if ((error = FixupAfterRead(b->image, t->recordSize)) != kOk) return error;
  if ((error = ValidateRecord(b->image, t->recordSize, t->clusterCount)) != kOk) return error;
  b->recordNumber = record::kMft;
  b->dirty = 0;
  return kOk;
}

// The boot sector, the MFT's records and the bitmap file's records come
// from the device's kept state when it is current (mount_cache.h), and are
// kept for the next mount when they had to be read.
int32_t MountAndOpenSteps(Toolkit* t, const char* path, bool fromKept, uint64_t writesBefore) {
  int32_t error = fromKept ? kOk : LoadMftChain(t, t->mftChain);
  uint32_t found = 0;
  if (error == kOk) error = WalkPath(t, record::kRoot, path, found, &t->namedIn);
  if (error == kOk) error = OpenRecord(t, t->fileChain, found);
  if (error != kOk) return error;
  if (fromKept && BitmapFileFromKeptState(t, t->bitmapFileChain)) return kOk;
  error = OpenRecord(t, t->bitmapFileChain, record::kClusterBitmap);
  if (error == kOk && !fromKept) KeepMountedState(t, writesBefore);
  return error;
}

}  // namespace

int32_t LoadMftChain(Toolkit* t, RecordChain& chain) {
  RecordBuffer* mft = AllocRecordBuffer(t, chain);
  if (mft == nullptr) return kErrNotEnoughMemory;
  const int32_t error = ReadMftRecordDirect(t, mft);
  if (error != kOk) return error;
  return LoadExtensions(t, chain, mft);
}

int32_t RefreshMftChain(Toolkit* t) {
  for (RecordBuffer* b = t->mftChain.head; b != nullptr; b = b->next) {
    if (b->dirty) return kOk;
  }
  RecordChain fresh;
  const int32_t error = LoadMftChain(t, fresh);
  if (error != kOk) return error;
  std::swap(t->mftChain.head, fresh.head);
  return kOk;
}

int32_t ToolkitMountAndOpen(Toolkit* t, const char* path) {
  const uint64_t writesBefore = WatchedWrites(t);
  const bool fromKept = MountFromKeptState(t);
  int32_t error = fromKept ? kOk : ReadBootSector(t);
  if (error != kOk) return error;
  error = MountAndOpenSteps(t, path, fromKept, writesBefore);
  if (error != kOk) ToolkitRelease(t);
  return error;
}

int32_t ToolkitCreate(Toolkit*& toolkit, const char*& path) {
  toolkit = nullptr;
  Toolkit* t = new (std::nothrow) Toolkit;
  if (t == nullptr) return kErrNotEnoughMemory;
  int32_t error = AttachDevice(path, t->attachment);
  if (error != kOk) {
    delete t;
    return error;
  }
  if (t->attachment.device == nullptr || t->attachment.bitmapSlot == nullptr ||
      t->attachment.sectorSize < 512) {
    std::fputs("Toolkit not initialised correctly.\n", stderr);
    DetachDevice(t->attachment);
    delete t;
    return kErrAccessDenied;
  }
  t->deviceSectorSize = t->attachment.sectorSize;
  toolkit = t;
  return kOk;
}

int32_t ToolkitOpen(ToolkitOwner& toolkit, const char* path) {
  toolkit.reset();
  Toolkit* created = nullptr;
  int32_t error = ToolkitCreate(created, path);
  if (error != kOk) return error;
  ToolkitOwner t(created);
  std::string rest;
  try {
    rest = (path == nullptr || *path == '\0') ? "." : path;
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  error = ToolkitMountAndOpen(t.get(), rest.c_str());
  if (error == kOk) toolkit = std::move(t);
  return error;
}

int32_t ToolkitOpen(Toolkit*& toolkit, const char* path) {
  ToolkitOwner owner;
  const int32_t error = ToolkitOpen(owner, path);
  toolkit = owner.release();
  return error;
}

int32_t ToolkitReopen(Toolkit* t, const char* path) {
  std::string copy;
  try {
    copy = path;
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  return ToolkitMountAndOpen(t, copy.c_str());
}

void ToolkitRelease(Toolkit* t) {
  if (t == nullptr) return;
  t->bootBuffer.clear();
  t->bootBuffer.shrink_to_fit();
  FreeChain(t->fileChain);
  FreeChain(t->bitmapFileChain);
  FreeChain(t->mftChain);
  t->sectorBuffer.clear();
  t->sectorBuffer.shrink_to_fit();
  t->chunkBuffer.clear();
  t->chunkBuffer.shrink_to_fit();
  t->pendingFrees.clear();
  ReleaseBitmap(t);
}

int32_t ToolkitClose(Toolkit* t) {
  if (t == nullptr) return kOk;
  ToolkitRelease(t);
  DetachDevice(t->attachment);
  delete t;
  return kOk;
}

bool IsDirectory(const Toolkit* t) {
  if (t == nullptr || t->fileChain.head == nullptr) return false;
  return (RecordFlags(t->fileChain.head->image) & record::kFlagDirectory) != 0;
}

uint32_t OpenedRecordNumber(const Toolkit* t) {
  return (t == nullptr || t->fileChain.head == nullptr) ? 0xFFFFFFFFu
                                                         : t->fileChain.head->recordNumber;
}

bool IsSystemRecord(const Toolkit* t) { return OpenedRecordNumber(t) < record::kSystemRecords; }

int32_t VolumeReadSectors(Toolkit* t, void* buffer, uint32_t first, uint32_t count) {
  if (t->bytesPerSector == 0 || t->attachment.device == nullptr) return kErrAccessDenied;
  if (first != 0 && static_cast<uint64_t>(first) + count > t->totalSectors) {
    return kErrSectorNotFound;
  }
  if (count == 0) return kOk;
  return ReadSectors(t->attachment.device, buffer, first, count, t->bytesPerSector);
}

int32_t VolumeWriteSectors(Toolkit* t, const void* buffer, uint32_t first, uint32_t count) {
  if (t->bytesPerSector == 0 || t->attachment.device == nullptr) return kErrAccessDenied;
  if (first != 0 && static_cast<uint64_t>(first) + count > t->totalSectors) {
    return kErrSectorNotFound;
  }
  if (count == 0) return kOk;
  if (t->writeOrder == WriteOrder::kChained) {
    if (const int32_t error = DeviceBarrier(*t->attachment.device)) return error;
  }
  return WriteSectors(t->attachment.device, buffer, first, count, t->bytesPerSector,
                      t->relaxWrites || t->writeOrder != WriteOrder::kOrdered);
}

}  // namespace vrax
