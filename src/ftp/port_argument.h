// The arguments of PORT ("h1,h2,h3,h4,p1,p2") and EPRT ("|af|address|port|").
#pragma once

#include <cstdint>
#include <string>

#include "platform/sockets.h"

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

struct ExtendedPortArgument {
  NetAddress address;  // IPv4-mapped IPv6 addresses in their IPv4 form
  uint16_t port = 0;
};

enum class ExtendedPortResult { kOk, kUnknownFamily, kBad };

// "<d>1<d>192.0.2.1<d>6275<d>" or "<d>2<d>2001:db8::1<d>6275<d>": the first
// character (any printable one but a digit) is the delimiter. The family
// (1 IPv4, 2 IPv6) must match the address's form; the port is 1 to 65535
// in decimal. kUnknownFamily for a well-formed argument of another family.
ExtendedPortResult ParseExtendedPortArgument(const std::string& text, ExtendedPortArgument& out);

}  // namespace vrax::ftp
