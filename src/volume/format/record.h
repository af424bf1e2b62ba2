// FILE record: one per file or directory, record size bytes, a header then
// a list of typed attributes closed by an end marker.
//
//   offset size field
//   0x00   4    magic "FILE"
//   0x04   2    offset of the update sequence array (0x2C in built records)
//   0x06   2    update sequence array count, the USN included
//   0x08   8    0
//   0x10   2    sequence number (0; not checked)
//   0x12   2    hard link count (0; not checked)
//   0x14   2    offset of the first attribute
//   0x16   2    flags: 0x0002 directory; 0x0001 extension record or a
//                record one of whose attributes was made non-resident
//   0x18   4    bytes in use, up to the end of the end marker
//   0x1C   4    bytes allocated: the record size
//   0x20   8    base record reference: low 32 bits the base record number
//               (0 in a base record), high 32 bits 0x00010000
//   0x28   2    attribute count
//   0x2A   2    0
//   0x2C   2n   update sequence array, then the attributes
//
// The end marker is the type 0xFFFFFFFF followed by a 4-byte 0.
#pragma once

#include <cstdint>

#include "volume/format/bytes.h"

namespace vrax {

namespace record {
constexpr uint32_t kMagic = 0x00;
constexpr uint32_t kUsaOffset = 0x04;
constexpr uint32_t kUsaCount = 0x06;
constexpr uint32_t kFirstAttribute = 0x14;
constexpr uint32_t kFlags = 0x16;
constexpr uint32_t kBytesInUse = 0x18;
constexpr uint32_t kBytesAllocated = 0x1C;
constexpr uint32_t kBaseReference = 0x20;
constexpr uint32_t kAttributeCount = 0x28;
constexpr uint32_t kHeaderSize = 0x2C;
constexpr uint16_t kFlagInUse = 0x0001;
constexpr uint16_t kFlagDirectory = 0x0002;
constexpr uint32_t kBaseReferenceHigh = 0x00010000;
constexpr uint32_t kEndMarker = 0xFFFFFFFF;
constexpr uint32_t kEndMarkerSize = 8;
constexpr uint32_t kSystemRecords = 11;  // records 0 to 10
constexpr uint32_t kMft = 0;
constexpr uint32_t kRoot = 5;
constexpr uint32_t kClusterBitmap = 6;
}  // namespace record

inline bool HasRecordMagic(const uint8_t* r) {
  return r[0] == 'F' && r[1] == 'I' && r[2] == 'L' && r[3] == 'E';
}
inline uint16_t RecordFirstAttribute(const uint8_t* r) { return GetLE16(r + record::kFirstAttribute); }
inline uint16_t RecordFlags(const uint8_t* r) { return GetLE16(r + record::kFlags); }
inline void SetRecordFlags(uint8_t* r, uint16_t f) { PutLE16(r + record::kFlags, f); }
inline uint32_t RecordBytesInUse(const uint8_t* r) { return GetLE32(r + record::kBytesInUse); }
inline void SetRecordBytesInUse(uint8_t* r, uint32_t v) { PutLE32(r + record::kBytesInUse, v); }
inline uint32_t RecordBytesAllocated(const uint8_t* r) { return GetLE32(r + record::kBytesAllocated); }
inline uint32_t RecordBaseRecord(const uint8_t* r) { return GetLE32(r + record::kBaseReference); }
inline void SetRecordBaseReference(uint8_t* r, uint32_t base) {
  PutLE32(r + record::kBaseReference, base);
  PutLE32(r + record::kBaseReference + 4, record::kBaseReferenceHigh);
}
inline uint16_t RecordAttributeCount(const uint8_t* r) { return GetLE16(r + record::kAttributeCount); }
inline void SetRecordAttributeCount(uint8_t* r, uint16_t v) { PutLE16(r + record::kAttributeCount, v); }

// Update sequence array count of a record built by the engine: one entry per
// sector of the record, plus the USN.
inline uint32_t RecordUsaCount(uint32_t recordSize, uint32_t bytesPerSector) {
  return recordSize / bytesPerSector + 1;
}

// Builds the empty record the engine starts every new record from: magic,
// the update sequence array at 0x2C, the first attribute right behind it,
// bytes in use up to the end marker, base reference high half 0x00010000,
// attribute count 0, every other byte 0. `usn` is the update sequence number.
void BuildEmptyRecord(uint8_t* image, uint32_t recordSize, uint32_t bytesPerSector,
                      uint16_t usn = 1);

}  // namespace vrax
