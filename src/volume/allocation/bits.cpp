#include "volume/allocation/bits.h"

namespace vrax {

namespace {

bool BitSet(const uint8_t* b, uint64_t k) { return (b[k >> 3] >> (k & 7)) & 1; }

}  // namespace

void SetBits(uint8_t* buffer, uint32_t firstBit, uint32_t count, int value) {
  for (uint64_t k = firstBit; k < static_cast<uint64_t>(firstBit) + count; ++k) {
    const uint8_t mask = static_cast<uint8_t>(1u << (k & 7));
    if (value == 1) {
      buffer[k >> 3] |= mask;
    } else {
      buffer[k >> 3] &= static_cast<uint8_t>(~mask);
    }
  }
}

int AllocateBits(uint8_t* buffer, uint32_t byteCount, uint32_t wanted, uint32_t& firstBit,
                 uint32_t limit) {
  if (wanted == 0) return 1;
  const uint64_t bits = static_cast<uint64_t>(byteCount) * 8;
  uint64_t runStart = 0;
  uint64_t runLength = 0;
  for (uint64_t k = 0; k < bits; ++k) {
    if ((k & 7) == 0 && buffer[k >> 3] == 0xFF) {
      runLength = 0;
      k += 7;
      continue;
    }
    if (BitSet(buffer, k)) {
      runLength = 0;
      continue;
    }
    if (runLength == 0) runStart = k;
    if (++runLength == wanted) {
      if (runStart >= limit) return 1;
      firstBit = static_cast<uint32_t>(runStart);
      SetBits(buffer, firstBit, wanted, 1);
      return 0;
    }
  }
  return 1;
}

uint32_t TakeFreeRun(uint8_t* bytes, uint32_t byteCount, uint32_t wanted, uint32_t& firstBit) {
  uint32_t i = 0;
  while (i < byteCount && bytes[i] == 0xFF) ++i;
  if (i == byteCount || wanted == 0) return 0;
  uint32_t bit = 0;
  while ((bytes[i] >> bit) & 1) ++bit;
  firstBit = i * 8 + bit;
  uint32_t taken = 0;
  const uint64_t end = static_cast<uint64_t>(byteCount) * 8;
  for (uint64_t k = firstBit; k < end && taken < wanted; ++k) {
    if ((k & 7) == 0 && wanted - taken >= 8 && bytes[k >> 3] == 0x00) {
      bytes[k >> 3] = 0xFF;
      taken += 8;
      k += 7;
      continue;
    }
    if (BitSet(bytes, k)) break;
    bytes[k >> 3] |= static_cast<uint8_t>(1u << (k & 7));
    ++taken;
  }
  return taken;
}

}  // namespace vrax
