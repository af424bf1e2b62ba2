#include "blockdev/disk_report.h"

#include <gtest/gtest.h>

#include <string>

namespace vrax {
namespace {

// The lines keep both halves and round gibibytes down; a zero sector size
// is printed, not divided by.
TEST(DiskReport, LinesKeepBothHalvesAndRoundGibibytesDown) {
  EXPECT_EQ(TotalBytesLine(1'000'204'886'016ull),
            "        Total Bytes: 000000E8:E0DB6000 [931 GB]\n");
  ::testing::internal::CaptureStderr();
  PrintGeometry(0, 1000);  // no division by a zero sector size
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Total Sectors: 00000000:00000000\n"),
            std::string::npos);
}

}  // namespace
}  // namespace vrax
