#include "volume/toolkit/mount_cache.h"

#include <new>
#include <utility>
#include <vector>

#include "blockdev/block_device.h"
#include "platform/error_codes.h"
#include "volume/allocation/bitmap_cache.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/run_lookup.h"

namespace vrax {

struct MountCache {
  bool kept = false;
  uint64_t writes = 0;  // the device's watched writes when the state was read
  uint32_t deviceSectorSize = 0;
  std::vector<uint8_t> bootBuffer;
  Toolkit geometry;  // only the geometry fields are used
  RecordChain mft;
  RecordChain bitmapFile;
  BitmapCache* bitmap = nullptr;  // one reference, held until the device goes
};

namespace {

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

void DropBitmapHold(BlockDevice& device, MountCache& cache) {
  BitmapCache* bitmap = cache.bitmap;
  if (bitmap == nullptr) return;
  cache.bitmap = nullptr;
  if (--bitmap->referenceCount <= 0) {
    if (device.bitmapSlot == bitmap) device.bitmapSlot = nullptr;
    delete bitmap;
  }
}

void DropMountCache(BlockDevice& device) {
  MountCache* cache = device.mountCache;
  if (cache == nullptr) return;
  device.mountCache = nullptr;
  WatchRanges(device, {});
  DropBitmapHold(device, *cache);
  delete cache;
}

MountCache* CacheOf(const Toolkit* t, bool create) {
  BlockDevice* device = t->attachment.device;
  if (device == nullptr) return nullptr;
  if (device->mountCache == nullptr && create) {
    device->mountCache = new (std::nothrow) MountCache;
    device->dropMountCache = &DropMountCache;
  }
  return device->mountCache;
}

MountCache* CurrentCache(const Toolkit* t) {
  MountCache* cache = CacheOf(t, false);
  if (cache == nullptr || !cache->kept || cache->deviceSectorSize != t->deviceSectorSize) {
    return nullptr;
  }
  if (t->attachment.device->watchedWrites.load(std::memory_order_acquire) != cache->writes) {
    cache->kept = false;
    return nullptr;
  }
  return cache;
}

bool CopyChain(uint32_t recordSize, const RecordChain& from, RecordChain& to) {
  FreeChain(to);
  for (const RecordBuffer* b = from.head; b != nullptr; b = b->next) {
    RecordBuffer* copy = AllocRecordBuffer(recordSize, to);
    if (copy == nullptr) {
      FreeChain(to);
      return false;
    }
    try {
      copy->onDisk = b->onDisk;
    } catch (const std::bad_alloc&) {
      copy->onDisk.clear();  // unknown: the next write writes the whole record
    }
    std::copy(b->storage.begin(), b->storage.end(), copy->storage.begin());
    copy->recordNumber = b->recordNumber;
  }
  return true;
}

void CopyGeometry(const Toolkit& from, Toolkit& to) {
  to.bytesPerSector = from.bytesPerSector;
  to.totalSectors = from.totalSectors;
  to.sectorsPerCluster = from.sectorsPerCluster;
  to.clusterSize = from.clusterSize;
  to.mftLcn = from.mftLcn;
  to.mftMirrorLcn = from.mftMirrorLcn;
  to.sectorsPerRecord = from.sectorsPerRecord;
  to.recordSize = from.recordSize;
  to.indexBlockSize = from.indexBlockSize;
  to.chunkSize = from.chunkSize;
  to.chunkBits = from.chunkBits;
  to.clusterCount = from.clusterCount;
}

// The device bytes of record n (one range per cluster it touches).
int32_t RecordRanges(Toolkit* t, uint32_t n, Ranges& ranges) {
  uint32_t size = 0;
  int32_t error = AttributeSize(t, t->mftChain, AT_DATA, size);
  if (error != kOk) return error;
  const uint64_t first = static_cast<uint64_t>(n) * t->recordSize;
  for (uint64_t at = first; at < first + t->recordSize;) {
    RunCache run;
    const uint32_t vcn = static_cast<uint32_t>(at / t->clusterSize);
    error = LookupDataRun(t, t->mftChain, AT_DATA, vcn, size, run);
    if (error != kOk) return error;
    const uint64_t within = at % t->clusterSize;
    const uint64_t lcn = static_cast<uint64_t>(run.lcn) + (vcn - run.firstVcn);
    const uint64_t start = lcn * t->clusterSize + within;
    const uint64_t piece = std::min<uint64_t>(t->clusterSize - within, first + t->recordSize - at);
    ranges.emplace_back(start, start + piece);
    at += piece;
  }
  return kOk;
}

int32_t WatchedRangesOf(Toolkit* t, Ranges& ranges) {
  ranges.emplace_back(0, t->deviceSectorSize);
  const uint64_t direct = static_cast<uint64_t>(t->mftLcn) * t->clusterSize;
  const uint64_t sectors = (t->recordSize + t->bytesPerSector - 1) / t->bytesPerSector;
  ranges.emplace_back(direct, direct + sectors * t->bytesPerSector);
  for (const RecordChain* chain : {&t->mftChain, &t->bitmapFileChain}) {
    for (const RecordBuffer* b = chain->head; b != nullptr; b = b->next) {
      const int32_t error = RecordRanges(t, b->recordNumber, ranges);
      if (error != kOk) return error;
    }
  }
  return kOk;
}

}  // namespace

uint64_t WatchedWrites(const Toolkit* t) {
  const BlockDevice* device = t->attachment.device;
  return device == nullptr ? 0 : device->watchedWrites.load(std::memory_order_acquire);
}

bool MountFromKeptState(Toolkit* t) {
  MountCache* cache = CurrentCache(t);
  if (cache == nullptr) return false;
  try {
    t->bootBuffer = cache->bootBuffer;
  } catch (const std::bad_alloc&) {
    return false;
  }
  CopyGeometry(cache->geometry, *t);
  t->chunkBuffer.clear();
  t->allocationHint = 0;
  if (!CopyChain(t->recordSize, cache->mft, t->mftChain)) return false;
  // Loading the MFT's records shows their attribute lists; a mount from the
  // kept copy shows them the same way.
  ShowAttributeLists(t, t->mftChain);
  return true;
}

bool BitmapFileFromKeptState(Toolkit* t, RecordChain& chain) {
  MountCache* cache = CurrentCache(t);
  if (cache == nullptr || cache->bitmapFile.head == nullptr) return false;
  if (!CopyChain(t->recordSize, cache->bitmapFile, chain)) return false;
  ShowAttributeLists(t, chain);
  return true;
}

void KeepMountedState(Toolkit* t, uint64_t writesBefore) {
  MountCache* cache = CacheOf(t, true);
  if (cache == nullptr) return;
  cache->kept = false;
  Ranges ranges;
  try {
    if (WatchedRangesOf(t, ranges) != kOk) return;
    cache->bootBuffer = t->bootBuffer;
  } catch (const std::bad_alloc&) {
    return;
  }
  if (!CopyChain(t->recordSize, t->mftChain, cache->mft) ||
      !CopyChain(t->recordSize, t->bitmapFileChain, cache->bitmapFile)) {
    return;
  }
  CopyGeometry(*t, cache->geometry);
  cache->deviceSectorSize = t->deviceSectorSize;
  const uint64_t now = WatchRanges(*t->attachment.device, std::move(ranges));
  cache->writes = writesBefore;
  cache->kept = now == writesBefore;
}

void KeepBitmapCache(Toolkit* t, BitmapCache* bitmap) {
  MountCache* cache = CacheOf(t, true);
  if (cache == nullptr || cache->bitmap != nullptr) return;
  ++bitmap->referenceCount;
  cache->bitmap = bitmap;
}

bool KeepsBitmapCache(const Toolkit* t, const BitmapCache* bitmap) {
  const MountCache* cache = CacheOf(t, false);
  return cache != nullptr && cache->bitmap == bitmap;
}

void DropKeptBitmapCache(Toolkit* t) {
  MountCache* cache = CacheOf(t, false);
  if (cache != nullptr) DropBitmapHold(*t->attachment.device, *cache);
}

}  // namespace vrax
