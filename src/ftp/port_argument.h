// The argument of PORT: "h1,h2,h3,h4,p1,p2", six decimal numbers.
#pragma once

#include <cstdint>
#include <string>

namespace vrax::ftp {

struct PortArgument {
  uint32_t numbers[6] = {};
  // "h1.h2.h3.h4"
  std::string AddressText() const;
  uint16_t Port() const { return static_cast<uint16_t>(numbers[4] * 256 + numbers[5]); }
};

// Reads six numbers separated by commas (blanks before a number and
// anything after the sixth are ignored). False when there are fewer than
// six, any is above 255, the address is all zero, or both port numbers are.
bool ParsePortArgument(const std::string& text, PortArgument& out);

}  // namespace vrax::ftp
