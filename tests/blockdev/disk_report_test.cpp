#include "blockdev/disk_report.h"

#include <gtest/gtest.h>

#include <string>

namespace vrax {
namespace {

// The lines keep both halves and round gibibytes down; the geometry is
// printed in order, even for a zero sector size.
TEST(DiskReport, LinesKeepBothHalvesAndRoundGibibytesDown) {
  EXPECT_EQ(TotalBytesLine(1'000'204'886'016ull),
            "        Total Bytes: 000000E8:E0DB6000 [931 GB]\n");
  EXPECT_EQ(TotalBytesLine((1ull << 30) - 1), "        Total Bytes: 00000000:3FFFFFFF [0 GB]\n");
  EXPECT_EQ(TotalBytesLine(~0ull), "        Total Bytes: FFFFFFFF:FFFFFFFF [17179869183 GB]\n");
  EXPECT_EQ(TotalSectorsLine(0x123456789ABCDEF0ull), "      Total Sectors: 12345678:9ABCDEF0\n");
  ::testing::internal::CaptureStderr();
  PrintGeometry(0, 1000);  // no division by a zero sector size
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "   Bytes Per Sector: 0\n"
            "      Total Sectors: 00000000:00000000\n"
            "        Total Bytes: 00000000:000003E8 [0 GB]\n");
}

}  // namespace
}  // namespace vrax
