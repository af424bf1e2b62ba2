// Bit runs in byte buffers. Bit k is bit k mod 8 of byte k div 8, counted
// from the least significant bit.
#pragma once

#include <cstdint>

namespace vrax {

// Sets (value 1) or clears (any other value) `count` bits from `firstBit`.
void SetBits(uint8_t* buffer, uint32_t firstBit, uint32_t count, int value);

// Finds the first run of `wanted` clear bits, whose first bit must be below
// `limit`, and sets it. 0 with `firstBit` when found, 1 when not.
int AllocateBits(uint8_t* buffer, uint32_t byteCount, uint32_t wanted, uint32_t& firstBit,
                 uint32_t limit);

// Takes the first free run at or after the start of the bytes, even when it
// is shorter than wanted, and sets its bits. Returns the number taken (0 when
// every byte is full) with its first bit relative to the start.
uint32_t TakeFreeRun(uint8_t* bytes, uint32_t byteCount, uint32_t wanted, uint32_t& firstBit);

}  // namespace vrax
