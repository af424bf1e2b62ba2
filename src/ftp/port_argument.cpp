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

namespace vrax::ftp {

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The three fields between four delimiters, or false.
bool SplitFields(const std::string& text, std::string fields[3]) {
  if (text.size() < 4) return false;
  const char d = text[0];
  if (d < 33 || d > 126 || (d >= '0' && d <= '9')) return false;
  size_t pos = 1;
  for (int i = 0; i < 3; ++i) {
    const size_t next = text.find(d, pos);
    if (next == std::string::npos) return false;
    fields[i] = text.substr(pos, next - pos);
    pos = next + 1;
  }
  return pos == text.size();
}

}  // namespace

ExtendedPortResult ParseExtendedPortArgument(const std::string& text, ExtendedPortArgument& out) {
  std::string fields[3];
  if (!SplitFields(text, fields) || !AllDigits(fields[0]) || !AllDigits(fields[2]) ||
      fields[2].size() > 5) {
    return ExtendedPortResult::kBad;
  }
  if (fields[0] != "1" && fields[0] != "2") return ExtendedPortResult::kUnknownFamily;
  const bool ipv6Form = fields[1].find(':') != std::string::npos;
  if (ipv6Form != (fields[0] == "2") || !ParseNetAddress(fields[1], &out.address) ||
      fields[1].find('[') != std::string::npos) {
    return ExtendedPortResult::kBad;
  }
  const unsigned long port = std::stoul(fields[2]);
  if (port == 0 || port > 65535) return ExtendedPortResult::kBad;
  out.port = static_cast<uint16_t>(port);
  return ExtendedPortResult::kOk;
}

}  // namespace vrax::ftp
