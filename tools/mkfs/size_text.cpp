#include "size_text.h"

#include <limits>

namespace vrax::mkfs {

namespace {

// The multiplier of a suffix character, 0 for a character that is none.
uint64_t SuffixFactor(char c) {
  switch (c) {
    case 'K':
    case 'k':
      return 1ull << 10;
    case 'M':
    case 'm':
      return 1ull << 20;
    case 'G':
    case 'g':
      return 1ull << 30;
    default:
      return 0;
  }
}

}  // namespace

std::optional<uint64_t> ParseSizeText(std::string_view text) {
  uint64_t factor = 1;
  if (!text.empty() && SuffixFactor(text.back()) != 0) {
    factor = SuffixFactor(text.back());
    text.remove_suffix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (value > kMax / factor) return std::nullopt;
  return value * factor;
}

}  // namespace vrax::mkfs
