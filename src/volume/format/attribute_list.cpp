#include "volume/format/attribute_list.h"

#include <cstring>

#include "volume/format/bytes.h"

namespace vrax {

ListStatus DecodeAttributeListEntry(const uint8_t* list, uint32_t size, uint32_t& pos,
                                    AttributeListEntry& entry) {
  if (pos >= size) return ListStatus::kEnd;
  if (!InBounds(pos, kAttributeListEntryMin, size)) return ListStatus::kMalformed;
  const uint8_t* e = list + pos;
  entry.type = GetLE32(e);
  entry.length = GetLE16(e + 0x04);
  entry.nameLength = e[0x06];
  entry.nameOffset = e[0x07];
  if (entry.length < kAttributeListEntryMin || !InBounds(pos, entry.length, size)) {
    return ListStatus::kMalformed;
  }
  if (entry.nameLength != 0 &&
      !InBounds(entry.nameOffset, 2u * entry.nameLength, entry.length)) {
    return ListStatus::kMalformed;
  }
  entry.firstVcn = GetLE32(e + 0x08);
  entry.record = GetLE32(e + 0x10);
  entry.identifier = GetLE16(e + 0x18);
  pos += entry.length;
  return ListStatus::kEntry;
}

void EncodeAttributeListEntry(uint8_t* at, const AttributeListEntry& entry) {
  std::memset(at, 0, kAttributeListEntrySize);
  PutLE32(at, entry.type);
  PutLE16(at + 0x04, kAttributeListEntrySize);
  PutLE64(at + 0x08, entry.firstVcn);
  PutLE64(at + 0x10, entry.record);
  PutLE16(at + 0x18, entry.identifier);
}

}  // namespace vrax
