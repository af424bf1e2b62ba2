#include "volume/format/descriptor.h"

#include <cstring>

#include "volume/format/bytes.h"

namespace vrax {

namespace {

uint8_t YearByte(int year) { return static_cast<uint8_t>(year - 1900); }

}  // namespace

void DecodeDescriptor(const uint8_t* in, Descriptor& d) {
  d.bits = in[0];
  d.owner = GetBE16(in + 1);
  d.modified = Stamp{1900 + in[3], in[4], in[5], in[6], in[7]};
  d.links = in[8];
  d.size = GetBE32(in + 9);
  d.created = Stamp{1900 + in[13], in[14], in[15], 0, 0};
  d.tail = GetBE32(in + 16);
}

void EncodeDescriptor(const Descriptor& d, uint8_t* out) {
  std::memset(out, 0, kDescriptorSize);
  out[0] = d.bits;
  PutBE16(out + 1, d.owner);
  out[3] = YearByte(d.modified.year);
  out[4] = static_cast<uint8_t>(d.modified.month);
  out[5] = static_cast<uint8_t>(d.modified.day);
  out[6] = static_cast<uint8_t>(d.modified.hour);
  out[7] = static_cast<uint8_t>(d.modified.minute);
  out[8] = d.links;
  PutBE32(out + 9, d.size);
  out[13] = YearByte(d.created.year);
  out[14] = static_cast<uint8_t>(d.created.month);
  out[15] = static_cast<uint8_t>(d.created.day);
  PutBE32(out + 16, d.tail);
}

uint32_t DescriptorSize(const uint8_t* in) { return GetBE32(in + 9); }
void SetDescriptorSize(uint8_t* out, uint32_t size) { PutBE32(out + 9, size); }

}  // namespace vrax
