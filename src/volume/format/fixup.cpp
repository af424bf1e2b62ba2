#include "volume/format/fixup.h"

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/format/bytes.h"

namespace vrax {

namespace {

constexpr uint32_t kStretch = 512;

// Checks that the array and every protected stretch end lie inside the image.
bool FixupFits(const uint8_t* image, uint32_t size, uint32_t& arrayOffset, uint32_t& count) {
  if (size < 8) return false;
  arrayOffset = GetLE16(image + 0x04);
  count = GetLE16(image + 0x06);
  if (count == 0) return true;
  if (!InBounds(arrayOffset, 2ull * count, size)) return false;
  return static_cast<uint64_t>(count - 1) * kStretch <= size;
}

}  // namespace

int32_t FixupBeforeWrite(uint8_t* image, uint32_t size) {
  uint32_t array = 0, count = 0;
  if (!FixupFits(image, size, array, count)) return Corruption();
  for (uint32_t i = 1; i < count; ++i) {
    uint8_t* end = image + kStretch * i - 2;
    uint8_t* saved = image + array + 2 * i;
    saved[0] = end[0];
    saved[1] = end[1];
    end[0] = image[array];
    end[1] = image[array + 1];
  }
  return kOk;
}

void AdvanceUpdateSequence(uint8_t* image, uint32_t size) {
  uint32_t array = 0, count = 0;
  if (!FixupFits(image, size, array, count) || count == 0) return;
  uint16_t usn = static_cast<uint16_t>(GetLE16(image + array) + 1);
  if (usn == 0 || usn == 0xFFFF) usn = 1;
  PutLE16(image + array, usn);
}

int32_t FixupAfterRead(uint8_t* image, uint32_t size) {
  uint32_t array = 0, count = 0;
  if (!FixupFits(image, size, array, count)) return Corruption();
  for (uint32_t i = 1; i < count; ++i) {
    const uint8_t* end = image + kStretch * i - 2;
    if (end[0] != image[array] || end[1] != image[array + 1]) return Corruption();
  }
  for (uint32_t i = 1; i < count; ++i) {
    uint8_t* end = image + kStretch * i - 2;
    end[0] = image[array + 2 * i];
    end[1] = image[array + 2 * i + 1];
  }
  return kOk;
}

}  // namespace vrax
