// Addresses of both families, and IPv4 peers of a dual-stack socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/sockets.h"

namespace vrax {
namespace {

TEST(NetAddress, LiteralsOfBothFamilies) {
  const struct {
    const char* text;
    bool parses;
    bool ipv6;
    const char* shown;
  } cases[] = {
      {"127.0.0.1", true, false, "127.0.0.1"},
      {"::1", true, true, "::1"},
      {"[::1]", true, true, "::1"},
      {"::ffff:192.0.2.7", true, false, "192.0.2.7"},  // IPv4-mapped: plain IPv4
      {"2001:DB8::1", true, true, "2001:db8::1"},
      {"localhost", false, false, ""},
      {"256.1.1.1", false, false, ""},
      {"[127.0.0.1", false, false, ""},
  };
  for (const auto& c : cases) {
    NetAddress address;
    ASSERT_EQ(ParseNetAddress(c.text, &address), c.parses) << c.text;
    if (!c.parses) continue;
    EXPECT_EQ(address.ipv6, c.ipv6) << c.text;
    EXPECT_EQ(NetAddressText(address), c.shown) << c.text;
  }
}

// An IPv4 client of an IPv6 socket that also takes IPv4 is reported, at
// both ends, by its plain IPv4 address.
TEST(NetAddress, IPv4PeersOfADualStackSocketArePlainIPv4) {
  const SocketHandle listener = SocketOpenTcp(true);
  if (listener == kInvalidSocket) GTEST_SKIP() << "no IPv6 on this host";
  ASSERT_TRUE(SocketSetIpv6Only(listener, false));
  ASSERT_EQ(SocketBind(listener, AnyAddress(true), 0), BindResult::kOk);
  ASSERT_TRUE(SocketListen(listener, 1));
  uint16_t port = 0;
  ASSERT_TRUE(SocketLocalAddress(listener, nullptr, &port));
  const SocketHandle client = SocketOpenTcp(false);
  ASSERT_TRUE(SocketConnect(client, Ipv4Address(127, 0, 0, 1), port));
  NetAddress peer, local;
  const SocketHandle accepted = SocketAccept(listener, &peer);
  ASSERT_NE(accepted, kInvalidSocket);
  ASSERT_TRUE(SocketLocalAddress(accepted, &local, nullptr));
  EXPECT_EQ(peer, Ipv4Address(127, 0, 0, 1));
  EXPECT_EQ(local, Ipv4Address(127, 0, 0, 1));
  SocketClose(accepted);
  SocketClose(client);
  SocketClose(listener);
}

}  // namespace
}  // namespace vrax
