// The cluster bitmap in memory: one cache per device, shared by every
// Toolkit of the device and reference-counted. While installed it is never
// reloaded: the in-memory bits are the truth and every change is written
// through to record 6's AT_DATA at once.
#pragma once

#include <cstdint>
#include <vector>

namespace vrax {

struct Toolkit;

struct BitmapCache {
  int32_t referenceCount = 0;
  int32_t freeCount = -1;      // unknown; no operation needs it
  uint32_t nextPosition = 0;   // cluster where the next allocation starts searching
  uint32_t length = 0;         // bytes
  std::vector<uint8_t> bits;
  // A write-back failed: the bits in memory may differ from the disk's, so
  // the cache is not kept once no Toolkit holds it.
  bool diverged = false;
};

// Makes sure the Toolkit holds the device's cache, building and installing
// it from record 6 when no Toolkit of the device holds one; gives its length.
int32_t AcquireBitmap(Toolkit* toolkit, uint32_t& length);

// Drops the Toolkit's hold; the last holder frees the cache.
void ReleaseBitmap(Toolkit* toolkit);

}  // namespace vrax
