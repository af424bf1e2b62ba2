// Byte counts as written on the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vrax::mkfs {

// Parses decimal digits with an optional suffix K, M or G (either case),
// powers of 1024: "4096", "64K", "1G". Nothing else is accepted: no sign, no
// blanks, no empty digits. Empty when the text is not a size or the value
// does not fit 64 bits.
std::optional<uint64_t> ParseSizeText(std::string_view text);

}  // namespace vrax::mkfs
