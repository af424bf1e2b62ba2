// The two allocation bitmaps of a fresh volume. Bit k is bit k mod 8 of
// byte k div 8, counted from the least significant bit.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry.h"

namespace vrax::mkfs {

// Sets `count` bits from bit `first`.
void SetBitRange(std::vector<uint8_t>& bits, uint64_t first, uint64_t count);

// The MFT's record bitmap: exactly records / 8 bytes (the engine grows the
// MFT by that length), the system records 0 to 10 marked in use.
std::vector<uint8_t> BuildRecordBitmap(uint32_t records);

// The cluster bitmap value: bitmapBytes bytes with the boot cluster, the MFT
// and the bitmap's own clusters marked, and every bit from the cluster count
// to the end of the value set, so those are never handed out.
std::vector<uint8_t> BuildClusterBitmap(const VolumeLayout& layout);

}  // namespace vrax::mkfs
