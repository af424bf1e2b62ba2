// Update sequence protection of FILE records and INDX blocks.
//
// The structure is divided into 512-byte stretches, whatever the sector size.
// The array at the offset stored at 0x04 holds `count` 16-bit entries (count
// at 0x06): entry 0 is the update sequence number (USN), entries 1..count-1
// the saved last two bytes of stretches 1..count-1. On disk the last two
// bytes of every stretch hold the USN, so a torn multi-sector write shows.
// A count of 0 means no protection.
//
// The engine advances the USN before every write of a structure (the format
// allows any value): a write torn between two sectors then leaves stretch
// ends of two different USNs, and the check after reading refuses the
// structure instead of trusting a mix of old and new sectors.
#pragma once

#include <cstdint>

namespace vrax {

// Before writing: saves the stretch ends into the array and puts the USN
// there. 114 when the array or a stretch lies outside the structure.
int32_t FixupBeforeWrite(uint8_t* image, uint32_t size);

// Advances the USN of an image in memory form (skipping 0 and 0xFFFF).
// Nothing happens when the array does not fit or the count is 0.
void AdvanceUpdateSequence(uint8_t* image, uint32_t size);

// After reading (and to restore an image after writing): checks every
// stretch end against the USN and puts the saved bytes back. 114 on a
// mismatch or an array that does not fit; the image is unchanged then.
int32_t FixupAfterRead(uint8_t* image, uint32_t size);

}  // namespace vrax
