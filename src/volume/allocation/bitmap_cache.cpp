#include "volume/allocation/bitmap_cache.h"

#include <new>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/toolkit/mount_cache.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

int32_t BuildCache(Toolkit* t, BitmapCache*& cache) {
  uint32_t length = 0;
  int32_t error = AttributeSize(t, t->bitmapFileChain, AT_DATA, length);
  if (error != kOk) return error;
  // One bit per cluster; a bitmap far larger than the volume is damage.
  if (length > t->clusterCount / 8 + t->clusterSize + 8) return Corruption();
  cache = new (std::nothrow) BitmapCache;
  if (cache == nullptr) return kErrNotEnoughMemory;
  try {
    cache->bits.assign(length, 0);
  } catch (const std::bad_alloc&) {
    delete cache;
    cache = nullptr;
    return kErrNotEnoughMemory;
  }
  cache->length = length;
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_DATA, t->bitmapFileChain, cache->bits.data(), length, 0, done,
                            kTransferRead);
  if (error == kOk && done != length) error = Corruption();
  if (error != kOk) {
    delete cache;
    cache = nullptr;
  }
  return error;
}

}  // namespace

int32_t AcquireBitmap(Toolkit* t, uint32_t& length) {
  ++t->bitmapUseCount;
  if (t->bitmapCache == nullptr) {
    if (t->attachment.bitmapSlot == nullptr) return kErrAccessDenied;
    if (BitmapCache* installed = *t->attachment.bitmapSlot) {
      ++installed->referenceCount;
      t->bitmapCache = installed;
    }
  }
  if (t->bitmapCache != nullptr) {
    length = t->bitmapCache->length;
    return kOk;
  }
  BitmapCache* cache = nullptr;
  const int32_t error = BuildCache(t, cache);
  if (error != kOk) return error;
  if (*t->attachment.bitmapSlot != nullptr) {
    delete cache;
    return kErrAccessDenied;
  }
  cache->referenceCount = 1;
  *t->attachment.bitmapSlot = cache;
  t->bitmapCache = cache;
  KeepBitmapCache(t, cache);
  length = cache->length;
  return kOk;
}

// When only the device's kept state holds the cache any more, it is left as
// a cache read afresh from the disk would be: its search starts again at
// cluster 0, and one whose bits may differ from the disk's is dropped.
void ReleaseBitmap(Toolkit* t) {
  BitmapCache* cache = t->bitmapCache;
  if (cache == nullptr) return;
  t->bitmapCache = nullptr;
  if (--cache->referenceCount > 0) {
    if (cache->referenceCount == 1 && KeepsBitmapCache(t, cache)) {
      cache->nextPosition = 0;
      if (cache->diverged) DropKeptBitmapCache(t);
    }
    return;
  }
  if (t->attachment.bitmapSlot != nullptr && *t->attachment.bitmapSlot == cache) {
    *t->attachment.bitmapSlot = nullptr;
  }
  delete cache;
}

}  // namespace vrax
