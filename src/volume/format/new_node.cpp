#include "volume/format/new_node.h"

#include <cstring>

#include "volume/format/bytes.h"

namespace vrax {

namespace {
constexpr uint32_t kStandardInformationMarkOffset = 0x20;
constexpr uint32_t kStandardInformationMark = 0x26;
}  // namespace

void BuildStandardInformation(uint8_t* out) {
  std::memset(out, 0, kStandardInformationSize);
  PutLE32(out + kStandardInformationMarkOffset, kStandardInformationMark);
}

Descriptor NewNodeDescriptor(uint8_t bits, uint32_t size, const Stamp& when) {
  Descriptor d;
  d.bits = bits;
  d.size = size;
  d.modified = when;
  d.created = Stamp{when.year, when.month, when.day, 0, 0};
  return d;
}

}  // namespace vrax
