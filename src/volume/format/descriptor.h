// File descriptor value (AT_OSK_FILEDES), exactly 20 bytes, multi-byte
// fields big-endian.
//
//   offset size field
//   0      1    attribute bits: 0x01 owner read, 0x02 owner write,
//               0x04 owner execute, 0x08 public read, 0x10 public write,
//               0x20 public execute, 0x40 shareable, 0x80 directory
//   1      2    owner (0 in new descriptors)
//   3      5    date last modified: year - 1900, month, day, hour, minute
//               (local time)
//   8      1    link count (0 in new descriptors)
//   9      4    file size in bytes
//   13     3    creation date: year - 1900, month, day
//   16     4    0 in new descriptors; kept as read otherwise
#pragma once

#include <cstdint>

namespace vrax {

constexpr uint32_t kDescriptorSize = 20;
constexpr uint8_t kDescOwnerWrite = 0x02;
constexpr uint8_t kDescPublicWrite = 0x10;
constexpr uint8_t kDescDirectory = 0x80;
constexpr uint8_t kDescNewFile = 0x1B;
constexpr uint8_t kDescNewDirectory = 0x9B;
constexpr uint32_t kDirectorySizeField = 0x8000;

struct Stamp {
  int year = 0;    // full year, e.g. 2026
  int month = 0;   // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
};

struct Descriptor {
  uint8_t bits = 0;
  uint16_t owner = 0;
  Stamp modified;
  uint8_t links = 0;
  uint32_t size = 0;
  Stamp created;   // hour and minute unused
  uint32_t tail = 0;
};

void DecodeDescriptor(const uint8_t* in, Descriptor& d);
void EncodeDescriptor(const Descriptor& d, uint8_t* out);

// The size field alone (bytes 9 to 12).
uint32_t DescriptorSize(const uint8_t* in);
void SetDescriptorSize(uint8_t* out, uint32_t size);

}  // namespace vrax
