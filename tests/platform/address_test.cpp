// Addresses of both families. (IPv4 peers of a dual-stack socket are
// checked end to end by the FTP tests.)
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "platform/sockets.h"

namespace vrax {
namespace {

// Literals of both families parse and show in their usual form (null:
// refused); an IPv4-mapped address is plain IPv4.
TEST(NetAddress, LiteralsOfBothFamilies) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1", "127.0.0.1"}, {"::1", "::1"},          {"[::1]", "::1"},
      {"::ffff:192.0.2.7", "192.0.2.7"}, {"2001:DB8::1", "2001:db8::1"}, {"localhost", nullptr},
      {"256.1.1.1", nullptr},    {"[127.0.0.1", nullptr},
  };
  for (const auto& [text, shown] : cases) {
    NetAddress address;
    ASSERT_EQ(ParseNetAddress(text, &address), shown != nullptr) << text;
    if (shown == nullptr) continue;
    EXPECT_EQ(address.ipv6, std::strchr(shown, ':') != nullptr) << text;
    EXPECT_EQ(NetAddressText(address), shown) << text;
  }
}

}  // namespace
}  // namespace vrax
