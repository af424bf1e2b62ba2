#include "blockdev/disk_report.h"

#include <gtest/gtest.h>

#include <string>

namespace vrax {
namespace {

TEST(DiskReport, TerabyteDiskLines) {
  const uint64_t bytes = 1'000'204'886'016ull;
  EXPECT_EQ(TotalBytesLine(bytes), "        Total Bytes: 000000E8:E0DB6000 [931 GB]\n");
  EXPECT_EQ(TotalSectorsLine(bytes / 512), "      Total Sectors: 00000000:74706DB0\n");
  EXPECT_EQ(BytesPerSectorLine(512), "   Bytes Per Sector: 512\n");
}

TEST(DiskReport, GibibytesRoundDown) {
  EXPECT_EQ(TotalBytesLine((1ull << 30) - 1), "        Total Bytes: 00000000:3FFFFFFF [0 GB]\n");
  EXPECT_EQ(TotalBytesLine(1ull << 30), "        Total Bytes: 00000000:40000000 [1 GB]\n");
  EXPECT_EQ(TotalBytesLine(0), "        Total Bytes: 00000000:00000000 [0 GB]\n");
}

TEST(DiskReport, HighHalvesAreNotLost) {
  EXPECT_EQ(TotalSectorsLine(0x123456789ABCDEF0ull), "      Total Sectors: 12345678:9ABCDEF0\n");
  EXPECT_EQ(TotalBytesLine(~0ull), "        Total Bytes: FFFFFFFF:FFFFFFFF [17179869183 GB]\n");
  EXPECT_EQ(BytesPerSectorLine(4096), "   Bytes Per Sector: 4096\n");
}

TEST(DiskReport, PrintsTheThreeLinesInOrder) {
  ::testing::internal::CaptureStderr();
  PrintGeometry(4096, 4096ull * 3);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "   Bytes Per Sector: 4096\n"
            "      Total Sectors: 00000000:00000003\n"
            "        Total Bytes: 00000000:00003000 [0 GB]\n");
  ::testing::internal::CaptureStderr();
  PrintGeometry(0, 1000);  // no division by a zero sector size
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "   Bytes Per Sector: 0\n"
            "      Total Sectors: 00000000:00000000\n"
            "        Total Bytes: 00000000:000003E8 [0 GB]\n");
}

}  // namespace
}  // namespace vrax
