// The order and equality of names in a directory index.
#include "platform/ascii_case.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"

namespace vrax {

namespace {

signed char UpperAscii(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return static_cast<signed char>(c);
}

}  // namespace

// Characters compare as signed 8-bit values after folding a-z to upper
// case, so bytes 0x80 to 0xFF sort before every ASCII character and "_"
// sorts after the letters.
int CollateNames(const uint8_t* entry, const char* name, uint32_t n) {
  if (EntryIsKeyless(entry)) return -1;
  const uint32_t stored = EntryNameLength(entry);
  const uint32_t common = stored < n ? stored : n;
  for (uint32_t i = 0; i < common; ++i) {
    const signed char s = UpperAscii(EntryNameChar(entry, i));
    const signed char c = UpperAscii(name[i]);
    if (s > c) return 1;
    if (s < c) return -1;
  }
  if (stored > n) return 1;
  if (stored < n) return -1;
  return 0;
}

bool NamesEqual(const uint8_t* entry, const char* name, uint32_t n) {
  if (EntryIsKeyless(entry) || EntryNameLength(entry) != n) return false;
  for (uint32_t i = 0; i < n; ++i) {
    if (FoldAscii(EntryNameChar(entry, i)) != FoldAscii(name[i])) return false;
  }
  return true;
}

}  // namespace vrax
