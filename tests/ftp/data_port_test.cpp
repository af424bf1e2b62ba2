#include <gtest/gtest.h>

#include "ftp/data_ports.h"
#include "ftp/port_argument.h"

namespace vrax::ftp {
namespace {

TEST(PortArgument, ReadsSixNumbers) {
  PortArgument p;
  ASSERT_TRUE(ParsePortArgument("127,0,0,1,4,1", p));
  EXPECT_EQ(p.AddressText(), "127.0.0.1");
  EXPECT_EQ(p.Port(), 1025);
  ASSERT_TRUE(ParsePortArgument("10, 0, 0, 1, 0, 21 trailing", p));
  EXPECT_EQ(p.Port(), 21);
}

TEST(PortArgument, RefusesWhatCannotBeAnAddressAndPort) {
  PortArgument p;
  for (const char* text : {"0,0,0,0,4,1", "10,0,0,1,0,0", "10,0,0,1,256,1", "10,0,0,1,4",
                           "", "a,b,c,d,e,f", "10,0,0,1,4,", "10;0;0;1;4;1",
                           "10,0,0,1,4,99999999999999999999", "-1,0,0,1,4,1"}) {
    EXPECT_FALSE(ParsePortArgument(text, p)) << text;
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
