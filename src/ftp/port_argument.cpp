#include "ftp/port_argument.h"

namespace vrax::ftp {

namespace {

// One number at `pos`: blanks, an optional '+', at least one digit. Values
// are capped just above 255 so that no text can overflow them.
bool ReadNumber(const std::string& text, size_t& pos, uint32_t& value) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos < text.size() && text[pos] == '+') ++pos;
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (value <= 255) value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

}  // namespace

std::string PortArgument::AddressText() const {
  return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
         std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
}

bool ParsePortArgument(const std::string& text, PortArgument& out) {
  size_t pos = 0;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != ',') return false;
      ++pos;
    }
    if (!ReadNumber(text, pos, out.numbers[i]) || out.numbers[i] > 255) return false;
  }
  const uint32_t* n = out.numbers;
  if (n[0] == 0 && n[1] == 0 && n[2] == 0 && n[3] == 0) return false;
  return n[4] != 0 || n[5] != 0;
}

}  // namespace vrax::ftp
