// Cluster allocation through the shared bitmap cache.
#include <algorithm>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/allocation/bitmap_cache.h"
#include "volume/allocation/bits.h"
#include "volume/attributes/attributes.h"
#include "volume/toolkit/damage.h"

namespace vrax {

namespace {

// Writes the changed bits back: the whole sectors of the bitmap that hold
// bits first to first + count - 1, but not beyond the cache's length.
int32_t WriteBitsBack(Toolkit* t, uint32_t first, uint32_t count) {
  BitmapCache* cache = t->bitmapCache;
  const uint32_t S = t->bytesPerSector;
  if (cache->length <= first / 8) return kOk;
  const uint64_t from = (first / 8) / S * S;
  uint64_t to = (static_cast<uint64_t>(first) + count + 7) / 8;
  to = (to + S - 1) / S * S;
  to = std::min<uint64_t>(to, cache->length);
  const int32_t error = BitmapWrite(t, t->bitmapFileChain, AT_DATA, cache->bits.data() + from,
                                    static_cast<uint32_t>(to - from), static_cast<uint32_t>(from));
  if (error != kOk) cache->diverged = true;
  return error;
}

}  // namespace

int32_t AllocateClusters(Toolkit* t, uint32_t useNextPosition, uint32_t wanted, uint32_t& lcn,
                         uint32_t& count) {
  lcn = 0;
  count = 0;
  uint32_t length = 0;
  int32_t error = AcquireBitmap(t, length);
  if (error != kOk) return error;
  if (length < (static_cast<uint64_t>(t->clusterCount) + 7) / 8) {
    return VolumeDamage(t, "the cluster bitmap is shorter than the volume");
  }
  BitmapCache* cache = t->bitmapCache;
  uint32_t start = 0;
  if (useNextPosition != 0 && cache->nextPosition / 8 < length) start = cache->nextPosition / 8;
  uint32_t firstBit = 0;
  uint32_t taken = TakeFreeRun(cache->bits.data() + start, length - start, wanted, firstBit);
  if (taken == 0 && start > 0) {
    taken = TakeFreeRun(cache->bits.data(), start, wanted, firstBit);
    start = 0;
  }
  t->bitmapUseCount = 0;
  if (taken == 0) return kOk;
  lcn = firstBit + 8 * start;
  // Bits past the last cluster are normally set; a bitmap that leaves them
  // clear must still never hand out clusters beyond the volume.
  if (lcn >= t->clusterCount) {
    SetBits(cache->bits.data(), lcn, taken, 0);
    return kOk;
  }
  if (static_cast<uint64_t>(lcn) + taken > t->clusterCount) {
    SetBits(cache->bits.data(), t->clusterCount, lcn + taken - t->clusterCount, 0);
    taken = t->clusterCount - lcn;
  }
  count = taken;
  t->allocationHint = lcn + count;
  cache->nextPosition = lcn + count;
  return WriteBitsBack(t, lcn, count);
}

int32_t FreeClusters(Toolkit* t, uint32_t lcn, uint32_t count) {
  if (lcn >= t->totalSectors / t->sectorsPerCluster) return kErrSectorNotFound;
  uint32_t length = 0;
  int32_t error = AcquireBitmap(t, length);
  if (error != kOk) return error;
  t->bitmapUseCount = 0;
  if (static_cast<uint64_t>(lcn) + count > static_cast<uint64_t>(length) * 8) {
    return kErrSectorNotFound;
  }
  SetBits(t->bitmapCache->bits.data(), lcn, count, 0);
  return WriteBitsBack(t, lcn, count);
}

// The bits of every run are cleared in the cache first; then each stretch
// of bitmap sectors that holds some of them is written once, so that many
// small runs (a fragmented file removed) cost a few writes, not one each.
int32_t FreeClusterRuns(Toolkit* t, std::vector<ClusterRun> runs) {
  if (runs.empty()) return kOk;
  uint32_t length = 0;
  int32_t error = AcquireBitmap(t, length);
  if (error != kOk) return error;
  t->bitmapUseCount = 0;
  std::sort(runs.begin(), runs.end(),
            [](const ClusterRun& a, const ClusterRun& b) { return a.lcn < b.lcn; });
  const uint64_t bitsPerSector = 8ull * t->bytesPerSector;
  int32_t first = kOk;
  uint64_t from = 0, to = 0;  // the stretch of bits still to write back
  for (const ClusterRun& run : runs) {
    const uint64_t end = static_cast<uint64_t>(run.lcn) + run.length;
    if (run.lcn >= t->clusterCount || end > static_cast<uint64_t>(length) * 8) {
      if (first == kOk) first = kErrSectorNotFound;
      continue;
    }
    SetBits(t->bitmapCache->bits.data(), run.lcn, run.length, 0);
    if (to != 0 && run.lcn / bitsPerSector > (to - 1) / bitsPerSector + 1) {
      error = WriteBitsBack(t, static_cast<uint32_t>(from), static_cast<uint32_t>(to - from));
      if (first == kOk) first = error;
      to = 0;
    }
    if (to == 0) from = run.lcn;
    to = std::max(to, end);
  }
  if (to != 0) {
    error = WriteBitsBack(t, static_cast<uint32_t>(from), static_cast<uint32_t>(to - from));
    if (first == kOk) first = error;
  }
  return first;
}

int32_t MarkClusters(Toolkit* t, uint32_t lcn, uint32_t count) {
  uint32_t length = 0;
  int32_t error = AcquireBitmap(t, length);
  if (error != kOk) return error;
  t->bitmapUseCount = 0;
  if (static_cast<uint64_t>(lcn) + count > static_cast<uint64_t>(length) * 8) {
    return kErrSectorNotFound;
  }
  SetBits(t->bitmapCache->bits.data(), lcn, count, 1);
  return WriteBitsBack(t, lcn, count);
}

}  // namespace vrax
