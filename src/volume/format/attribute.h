// Attribute headers inside a FILE record.
//
// Common part:                    Resident form:
//   0x00 4 type code                0x10 4 value length (low 16 bits used)
//   0x04 4 total length             0x14 2 value offset
//   0x08 1 0 resident, 1 not        0x16 2 0
//   0x09 1 name length (UTF-16)     0x18   name, then the value
//   0x0A 2 name offset
//   0x0C 2 flags (0)              Non-resident form:
//   0x0E 2 attribute identifier     0x10 8 first VCN of this instance
//                                   0x18 8 last VCN of the value
//                                   0x20 2 run list offset
//                                   0x28 8 allocated size
//                                   0x30 8 data size
//                                   0x38 8 initialized size (the length read)
//                                   0x40 8 0
//                                   0x48   name, then the run list
//
// 8-byte fields are used through their low 32 bits.
#pragma once

#include <cstdint>

#include "volume/format/bytes.h"

namespace vrax {

enum AttributeType : uint32_t {
  AT_STANDARD_INFORMATION = 0x10,
  AT_ATTRIBUTE_LIST = 0x20,
  AT_FILE_NAME = 0x30,
  AT_VOLUME_VERSION = 0x40,
  AT_SECURITY_DESCRIPTOR = 0x50,
  AT_VOLUME_NAME = 0x60,
  AT_VOLUME_INFORMATION = 0x70,
  AT_DATA = 0x80,
  AT_INDEX_ROOT = 0x90,
  AT_INDEX_ALLOCATION = 0xA0,
  AT_BITMAP = 0xB0,
  AT_SYMBOLIC_LINK = 0xC0,
  AT_EA_INFORMATION = 0xD0,
  AT_EA = 0xE0,
  AT_OSK_FILEDES = 0x1000,
};

namespace attr {
constexpr uint32_t kType = 0x00;
constexpr uint32_t kLength = 0x04;
constexpr uint32_t kNonResident = 0x08;
constexpr uint32_t kNameLength = 0x09;
constexpr uint32_t kNameOffset = 0x0A;
constexpr uint32_t kIdentifier = 0x0E;
constexpr uint32_t kValueLength = 0x10;
constexpr uint32_t kValueOffset = 0x14;
constexpr uint32_t kResidentHeader = 0x18;
constexpr uint32_t kFirstVcn = 0x10;
constexpr uint32_t kLastVcn = 0x18;
constexpr uint32_t kRunListOffset = 0x20;
constexpr uint32_t kAllocatedSize = 0x28;
constexpr uint32_t kDataSize = 0x30;
constexpr uint32_t kInitializedSize = 0x38;
constexpr uint32_t kNonResidentHeader = 0x48;
}  // namespace attr

inline uint32_t AttrType(const uint8_t* a) { return GetLE32(a + attr::kType); }
inline uint32_t AttrLength(const uint8_t* a) { return GetLE32(a + attr::kLength); }
inline void SetAttrLength(uint8_t* a, uint32_t v) { PutLE32(a + attr::kLength, v); }
inline bool AttrIsNonResident(const uint8_t* a) { return a[attr::kNonResident] != 0; }
inline uint8_t AttrNameLength(const uint8_t* a) { return a[attr::kNameLength]; }
inline uint8_t AttrNameOffset(const uint8_t* a) { return a[attr::kNameOffset]; }
inline uint16_t AttrIdentifier(const uint8_t* a) { return GetLE16(a + attr::kIdentifier); }
// Resident form.
inline uint16_t AttrValueLength(const uint8_t* a) { return GetLE16(a + attr::kValueLength); }
inline void SetAttrValueLength(uint8_t* a, uint16_t v) { PutLE16(a + attr::kValueLength, v); }
inline uint16_t AttrValueOffset(const uint8_t* a) { return GetLE16(a + attr::kValueOffset); }
inline uint8_t* AttrValue(uint8_t* a) { return a + AttrValueOffset(a); }
inline const uint8_t* AttrValue(const uint8_t* a) { return a + AttrValueOffset(a); }
// Non-resident form.
inline uint32_t AttrFirstVcn(const uint8_t* a) { return GetLE32(a + attr::kFirstVcn); }
inline void SetAttrFirstVcn(uint8_t* a, uint32_t v) { PutLE64(a + attr::kFirstVcn, v); }
inline uint32_t AttrLastVcn(const uint8_t* a) { return GetLE32(a + attr::kLastVcn); }
inline void SetAttrLastVcn(uint8_t* a, uint32_t v) { PutLE64(a + attr::kLastVcn, v); }
inline uint16_t AttrRunListOffset(const uint8_t* a) { return GetLE16(a + attr::kRunListOffset); }
inline uint32_t AttrAllocatedSize(const uint8_t* a) { return GetLE32(a + attr::kAllocatedSize); }
inline void SetAttrAllocatedSize(uint8_t* a, uint32_t v) { PutLE64(a + attr::kAllocatedSize, v); }
inline uint32_t AttrDataSize(const uint8_t* a) { return GetLE32(a + attr::kDataSize); }
inline void SetAttrDataSize(uint8_t* a, uint32_t v) { PutLE64(a + attr::kDataSize, v); }
inline uint32_t AttrInitializedSize(const uint8_t* a) { return GetLE32(a + attr::kInitializedSize); }
inline void SetAttrInitializedSize(uint8_t* a, uint32_t v) { PutLE64(a + attr::kInitializedSize, v); }

// A non-resident attribute's run list follows its name, which starts at
// 0x48.
inline uint32_t NonResidentRunListOffset(uint32_t nameLength) {
  return attr::kNonResidentHeader + 2 * nameLength;
}
// Length of a non-resident attribute: run list offset + encoded runs + 4,
// rounded down to even, so at least one 0 byte follows the runs.
inline uint32_t NonResidentAttributeLength(uint32_t nameLength, uint32_t encodedRunBytes) {
  return (NonResidentRunListOffset(nameLength) + encodedRunBytes + 4) & ~1u;
}

// The header of a non-resident instance of `like` (an attribute of either
// form) into `out`, `length` bytes that are all set here: the first 16 bytes
// of `like` (type, flags, identifier), the non-resident flag, the length,
// the name copied to 0x48 and the run list offset right behind it. VCNs,
// sizes and runs are 0 for the caller to fill in.
void WriteNonResidentHeader(const uint8_t* like, uint8_t* out, uint32_t length);

// Value space the engine gives a resident value of n bytes: for AT_DATA
// (n + 16) rounded down to a multiple of 16, for other types n rounded up to
// an even number.
uint32_t ResidentValueSpace(uint32_t type, uint32_t n);

// The attribute walk every reader of a record uses: from the first attribute
// offset, each next attribute at the current one plus its length, stopping at
// the end marker or after (attribute count + 1) steps.
//
// Next() yields the attributes one by one and null at the end. It never
// reads outside the record: an attribute header or length that leaves the
// record, or a length that cannot advance, ends the walk with malformed()
// set, so that callers can answer a damaged record with 114.
class AttributeWalk {
 public:
  AttributeWalk(uint8_t* image, uint32_t recordSize);
  uint8_t* Next();
  bool malformed() const { return malformed_; }
  // Offset of the end marker once Next() returned null at it, else 0.
  uint32_t endMarkerOffset() const { return endMarker_; }

 private:
  uint8_t* image_;
  uint32_t size_;
  uint32_t offset_;
  uint32_t stepsLeft_;
  uint32_t endMarker_ = 0;
  bool malformed_ = false;
};

// Checks one attribute header against the room it claims: name, resident
// value and run list inside the attribute, non-resident header complete.
// `clusterCount` bounds every run (0 skips that check). True when sound.
bool AttributeIsSound(const uint8_t* a, uint32_t clusterCount);

// Checks a whole record image after its fix-ups: header fields inside the
// record and every attribute of the walk sound. 0 or 114.
int32_t ValidateRecord(const uint8_t* image, uint32_t recordSize, uint32_t clusterCount);

// The attribute of `type` in one record image, or null; with type
// 0xFFFFFFFF the end marker.
uint8_t* FindAttributeInRecord(uint8_t* image, uint32_t recordSize, uint32_t type);

}  // namespace vrax
