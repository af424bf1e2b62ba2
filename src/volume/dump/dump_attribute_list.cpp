// The attribute-list dump, printed for every piece of a list as it is loaded.
#include <cstdio>

#include "volume/dump/dump.h"
#include "volume/dump/dump_lines.h"
#include "volume/format/attribute_list.h"

namespace vrax {

namespace {

void PrintListEntry(const AttributeListEntry& entry) {
  std::printf(" $%2.2x %4u  %4u     %6u       %4u %4u\n", entry.type,
              static_cast<unsigned>(entry.length), static_cast<unsigned>(entry.nameLength),
              entry.firstVcn, entry.record, static_cast<unsigned>(entry.identifier));
}

}  // namespace

// One line per entry, in list order. The entries are decoded with the
// bounds-checked list codec, so only the `length` bytes given are read: an
// entry of length 0, one that runs past the end of the piece, one too short
// for its own fields or one naming bytes outside itself ends the listing,
// and the closing line is still printed.
void DumpAttributeList(const uint8_t* buffer, uint32_t length) {
  std::printf("%s", dump::kDashLine);
  std::printf(" TYPE RECSIZE NAMEL START_VCN     MFT  ATTR_ID \n");
  uint32_t pos = 0;
  AttributeListEntry entry;
  while (buffer != nullptr &&
         DecodeAttributeListEntry(buffer, length, pos, entry) == ListStatus::kEntry) {
    PrintListEntry(entry);
  }
  std::printf("%s", dump::kDashLine);
}

}  // namespace vrax
