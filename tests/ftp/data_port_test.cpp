#include <gtest/gtest.h>

#include "ftp/data_ports.h"
#include "ftp/port_argument.h"

namespace vrax::ftp {
namespace {

TEST(PortArgument, ReadsSixNumbersAndRefusesWhatCannotBeAnAddressAndPort) {
  PortArgument p;
  ASSERT_TRUE(ParsePortArgument("127,0,0,1,4,1", p));
  EXPECT_EQ(p.AddressText(), "127.0.0.1");
  EXPECT_EQ(p.Port(), 1025);
  ASSERT_TRUE(ParsePortArgument("10, 0, 0, 1, 0, 21 trailing", p));
  EXPECT_EQ(p.Port(), 21);
  for (const char* text : {"0,0,0,0,4,1", "10,0,0,1,0,0", "10,0,0,1,256,1", "10,0,0,1,4",
                           "", "a,b,c,d,e,f", "10,0,0,1,4,", "10;0;0;1;4;1",
                           "10,0,0,1,4,99999999999999999999", "-1,0,0,1,4,1"}) {
    EXPECT_FALSE(ParsePortArgument(text, p)) << text;
  }
}

TEST(ExtendedPortArgument, ReadsFamilyAddressAndPort) {
  const struct {
    const char* text;
    ExtendedPortResult result;
    const char* address;  // as NetAddressText shows it
    uint16_t port;
  } cases[] = {
      {"|1|132.235.1.2|6275|", ExtendedPortResult::kOk, "132.235.1.2", 6275},
      {"|2|1080::8:800:200C:417A|5282|", ExtendedPortResult::kOk, "1080::8:800:200c:417a", 5282},
      {"!2!::1!65535!", ExtendedPortResult::kOk, "::1", 65535},
      {"|2|::ffff:10.0.0.1|21|", ExtendedPortResult::kOk, "10.0.0.1", 21},
      {"|2|::|4000|", ExtendedPortResult::kOk, "::", 4000},
      {"|3|1.2.3.4|21|", ExtendedPortResult::kUnknownFamily, "", 0},
      {"|1|::1|21|", ExtendedPortResult::kBad, "", 0},
      {"|2|10.0.0.1|21|", ExtendedPortResult::kBad, "", 0},
      {"|2|[::1]|21|", ExtendedPortResult::kBad, "", 0},
      {"|1|10.0.0.1|0|", ExtendedPortResult::kBad, "", 0},
      {"|1|10.0.0.1|65536|", ExtendedPortResult::kBad, "", 0},
      {"|1|10.0.0.1|99999999999|", ExtendedPortResult::kBad, "", 0},
      {"|1|10.0.0.1|-1|", ExtendedPortResult::kBad, "", 0},
      {"|1|10.0.0.1|21", ExtendedPortResult::kBad, "", 0},
      {"|1|10.0.0.1|21|x", ExtendedPortResult::kBad, "", 0},
      {"1|10.0.0.1|21|1", ExtendedPortResult::kBad, "", 0},
      {"|1|host.example|21|", ExtendedPortResult::kBad, "", 0},
      {"", ExtendedPortResult::kBad, "", 0},
  };
  for (const auto& c : cases) {
    ExtendedPortArgument out;
    ASSERT_EQ(ParseExtendedPortArgument(c.text, out), c.result) << c.text;
    if (c.result != ExtendedPortResult::kOk) continue;
    EXPECT_EQ(NetAddressText(out.address), c.address) << c.text;
    EXPECT_EQ(out.port, c.port) << c.text;
  }
}

// The range runs from the first port over twice the count less two.
TEST(DataPorts, PickedAndDrawnPortsStayInTheRange) {
  EXPECT_EQ(PickDataPort(100, 199, 0), 100);
  EXPECT_EQ(PickDataPort(100, 199, 32767), 298);
  EXPECT_EQ(PickDataPort(5000, 1, 12345), 5000);
  for (int i = 0; i < 1000; ++i) {
    const uint16_t port = DrawDataPort(100, 199);
    ASSERT_GE(port, 100);
    ASSERT_LE(port, 298);
  }
}

}  // namespace
}  // namespace vrax::ftp
