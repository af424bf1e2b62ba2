// Run lists: where a non-resident value's clusters lie.
//
// Each run is a header byte (low nibble L = length bytes, high nibble O =
// offset bytes), L bytes of run length in clusters (unsigned), O bytes of
// offset (signed, two's complement). A header of 0 ends the list. The offset
// is relative to the LAST cluster of the previous run: with p = 0 at the
// start, LCN = p + offset and then p = LCN + length - 1. Runs without offset
// bytes (sparse runs) are not part of the format and count as malformed.
#pragma once

#include <cstdint>
#include <vector>

namespace vrax {

// `length` clusters starting at LCN `lcn`.
struct ClusterRun {
  uint32_t lcn = 0;
  uint32_t length = 0;
};

struct DecodedRun {
  uint32_t length = 0;       // clusters
  int64_t offset = 0;        // raw signed offset
  uint32_t lengthBytes = 0;  // L
  uint32_t offsetBytes = 0;  // O
};

enum class RunStatus { kRun, kEnd, kMalformed };

// Decodes the run at `pos` of a list of `size` bytes and advances `pos`.
// Never reads at or beyond `size`; a header whose fields do not fit, an
// offset or length wider than 8 bytes, a zero length or a length above
// 32 bits is malformed.
RunStatus DecodeRun(const uint8_t* list, uint32_t size, uint32_t& pos, DecodedRun& run);

// Applies a run to the position p: gives the run's first LCN and moves p to
// its last cluster. False when the LCN or the run's end leaves 32 bits.
bool AdvanceRun(const DecodedRun& run, uint32_t& p, uint32_t& lcn);

// The least number of bytes, 1 to 4, that holds v as a signed little-endian
// number (v = 0 gives 0; callers raise it to 1). A non-negative value whose
// top byte has bit 7 set takes one byte more; a negative value (nonNegative
// false, v its 32-bit two's complement) takes the width of its complement by
// the same rule, so -17 takes 1 byte (0xEF) and -129 takes 2 (0x7F 0xFF).
uint32_t RunFieldWidth(bool nonNegative, uint32_t v);

// The least number of bytes, 1 to 8, that holds a run's offset as a signed
// little-endian number. Offsets between clusters of a volume of more than
// 2^31 clusters need 5: the 4 that lengths are held to would turn such an
// offset's sign.
uint32_t OffsetFieldWidth(int64_t offset);

// Writes one run at `at`: header (offsetBytes << 4) | lengthBytes, the
// length, then the offset, little-endian, followed by a 0 terminator byte.
void EncodeRun(uint8_t* at, uint32_t lengthBytes, uint32_t offsetBytes, uint32_t length,
               int64_t offset);

// Encodes runs in list form, without the terminator: each run's offset is
// relative to the last cluster of the run before it (to 0 for the first),
// length and offset each in the fewest bytes that hold them as signed
// numbers (RunFieldWidth, OffsetFieldWidth), at least one.
std::vector<uint8_t> EncodeRunList(const std::vector<ClusterRun>& runs);

// Decodes a whole list into runs; false on a malformed list or a run whose
// LCN leaves 32 bits.
bool DecodeRunList(const uint8_t* list, uint32_t size, std::vector<ClusterRun>& runs);

// Walks a whole list: gives the last cluster p after the last run, the last
// run's length and the number of encoded bytes before the terminator.
// Returns false on a malformed list.
bool RunListSummary(const uint8_t* list, uint32_t size, uint32_t& lastCluster,
                    uint32_t& lastRunLength, uint32_t& encodedBytes);

}  // namespace vrax
