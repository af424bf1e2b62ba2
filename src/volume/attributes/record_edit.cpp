#include "volume/attributes/record_edit.h"

#include <cstring>

#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

uint32_t RecordFreeRoom(const uint8_t* image) {
  const uint32_t allocated = RecordBytesAllocated(image);
  const uint32_t inUse = RecordBytesInUse(image);
  return allocated > inUse ? allocated - inUse : 0;
}

bool ShiftRecordTail(uint8_t* image, uint32_t recordSize, uint32_t at, int64_t delta) {
  const uint32_t inUse = RecordBytesInUse(image);
  if (at > inUse || inUse > recordSize) return false;
  if (delta > 0 && static_cast<uint64_t>(delta) > RecordFreeRoom(image)) return false;
  if (delta < 0 && static_cast<uint64_t>(-delta) > at) return false;
  const uint32_t tail = inUse - at;
  std::memmove(image + at + delta, image + at, tail);
  if (delta > 0) std::memset(image + at, 0, static_cast<size_t>(delta));
  SetRecordBytesInUse(image, static_cast<uint32_t>(inUse + delta));
  return true;
}

void RemoveAttributeBytes(uint8_t* image, uint32_t recordSize, uint8_t* a) {
  const uint32_t length = AttrLength(a);
  const uint32_t at = static_cast<uint32_t>(a - image) + length;
  ShiftRecordTail(image, recordSize, at, -static_cast<int64_t>(length));
  SetRecordAttributeCount(image, static_cast<uint16_t>(RecordAttributeCount(image) - 1));
}

bool InsertAttributeBytes(uint8_t* image, uint32_t recordSize, const uint8_t* attribute,
                          uint32_t length) {
  uint8_t* end = FindAttributeInRecord(image, recordSize, record::kEndMarker);
  if (end == nullptr) return false;
  const uint32_t at = static_cast<uint32_t>(end - image);
  if (!ShiftRecordTail(image, recordSize, at, length)) return false;
  std::memcpy(image + at, attribute, length);
  SetRecordAttributeCount(image, static_cast<uint16_t>(RecordAttributeCount(image) + 1));
  return true;
}

int32_t AddAttribute(uint8_t* image, uint32_t recordSize, uint32_t type, const char* name) {
  if (FindAttributeInRecord(image, recordSize, type) != nullptr) return kErrAddTypePresent;
  if (FindAttributeInRecord(image, recordSize, record::kEndMarker) == nullptr) {
    return kErrAddNoEndMarker;
  }
  const uint32_t nameLength = name == nullptr ? 0 : static_cast<uint32_t>(std::strlen(name));
  const uint32_t size = attr::kResidentHeader + 2 * nameLength;
  if (RecordFreeRoom(image) < size || nameLength > 255) return kErrAddNoRoom;
  uint8_t a[attr::kResidentHeader + 2 * 255] = {};
  PutLE32(a + attr::kType, type);
  PutLE32(a + attr::kLength, size);
  a[attr::kNameLength] = static_cast<uint8_t>(nameLength);
  a[attr::kNameOffset] = nameLength ? attr::kResidentHeader : 0;
  for (uint32_t i = 0; i < nameLength; ++i) a[attr::kResidentHeader + 2 * i] = static_cast<uint8_t>(name[i]);
  PutLE16(a + attr::kValueOffset, static_cast<uint16_t>(size));
  if (!InsertAttributeBytes(image, recordSize, a, size)) return kErrAddNoRoom;
  return kOk;
}

}  // namespace vrax
