// Attribute list entries: the value of AT_ATTRIBUTE_LIST is a sequence of
// these, each at the previous one plus its length. They name the record
// that holds each attribute instance of a file spread over several records.
//
//   offset size field
//   0x00   4    attribute type
//   0x04   2    entry length
//   0x06   1    name length
//   0x07   1    name offset
//   0x08   8    first VCN of the listed instance (low 32 bits used)
//   0x10   8    record reference (low 32 bits = record number)
//   0x18   2    attribute identifier
//   name offset  name, when present
#pragma once

#include <cstdint>

namespace vrax {

constexpr uint32_t kAttributeListEntrySize = 0x20;  // entries the engine writes
constexpr uint32_t kAttributeListEntryMin = 0x1A;   // the fields read

struct AttributeListEntry {
  uint32_t type = 0;
  uint16_t length = 0;
  uint8_t nameLength = 0;
  uint8_t nameOffset = 0;
  uint32_t firstVcn = 0;
  uint32_t record = 0;
  uint16_t identifier = 0;
};

enum class ListStatus { kEntry, kEnd, kMalformed };

// Decodes the entry at `pos` of a list value of `size` bytes and advances
// `pos` by its length. kEnd when pos reached size; kMalformed when the entry
// is shorter than its fields, runs past the value or names outside itself.
ListStatus DecodeAttributeListEntry(const uint8_t* list, uint32_t size, uint32_t& pos,
                                    AttributeListEntry& entry);

// Writes a 0x20-byte unnamed entry at `at`.
void EncodeAttributeListEntry(uint8_t* at, const AttributeListEntry& entry);

}  // namespace vrax
