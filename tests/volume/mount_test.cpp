#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/error_codes.h"
#include "support/image_toolkit.h"
#include "support/volume_fixture.h"
#include "volume/index/index.h"

namespace vrax {
namespace {

using MountTest = test::VolumeTest;

// The root of a fresh volume lists only ".." and "." (system records are
// not listed), in whole 32-byte records only; "." and ".." resolve in the
// path walk, and the root can be written but not removed.
TEST_F(MountTest, FreshVolumeOpensTheRootWithAnEmptyListing) {
  FormatAndMount("--size 8M");
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(IsDirectory(t));
  EXPECT_TRUE(IsSystemRecord(t));
  EXPECT_EQ(CheckRemovable(t), kErrAccessDenied);
  EXPECT_EQ(CheckWritable(t), 0);
  std::vector<uint8_t> buffer(4096, 0xEE);
  uint32_t delivered = 0;
  ASSERT_EQ(ReadDirectory(t, 0, 4096, buffer.data(), delivered), 0);
  EXPECT_EQ(delivered, 64u);
  EXPECT_EQ(ReadDirectory(t, 16, 32, buffer.data(), delivered), kErrAccessDenied);
  EXPECT_EQ(ReadDirectory(t, 0, 48, buffer.data(), delivered), kErrAccessDenied);
  ToolkitClose(t);
  for (const char* path : {"/1/", "/1/.", "/1/..", "/1/./..", "/1/../."}) {
    t = Open(path);
    ASSERT_NE(t, nullptr) << path;
    EXPECT_EQ(OpenedRecordNumber(t), 5u) << path;
    ToolkitClose(t);
  }
  EXPECT_EQ(OpenResult("/1/missing/.."), kErrPathNotFound);
}

TEST_F(MountTest, SectorTransfersStayInsideTheVolume) {
  FormatAndMount("--size 8M");
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> buffer(16 * 512);
  const uint32_t total = t->totalSectors;
  EXPECT_EQ(VolumeReadSectors(t, buffer.data(), total - 10, 11), kErrSectorNotFound);
  EXPECT_EQ(VolumeReadSectors(t, buffer.data(), total - 10, 10), 0);
  EXPECT_EQ(VolumeReadSectors(t, buffer.data(), 0xFFFFFFF0u, 0x20), kErrSectorNotFound);
  EXPECT_EQ(VolumeReadSectors(t, buffer.data(), 5, 0), 0);
  ToolkitClose(t);
  device_->sectorSize = 256;  // device sectors below 512 bytes are refused
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(OpenResult("/1"), kErrAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Toolkit not initialised correctly.\n");
}

// Damaged boot sectors are answered with their error numbers: 160 for a
// sector size that is not a power of two, 114 for the rest (the identifier
// is checked where the sector is decoded).
TEST_F(MountTest, DamagedBootSectorsAreRefused) {
  const std::tuple<uint32_t, std::vector<uint8_t>, int32_t> cases[] = {
      {0x0B, {0x00, 0x03}, kErrBadArguments},               // 768-byte sectors
      {0x0D, {0x00}, kErrBadStructure},                     // no sectors per cluster
      {0x40, {0x00, 0x00, 0x00, 0x00}, kErrBadStructure},   // record size 0
      {0x30, {0xFF, 0xFF, 0xFF, 0x7F}, kErrBadStructure},   // MFT beyond the volume
  };
  for (const auto& [offset, bytes, error] : cases) {
    FormatAndMount("--size 8M");
    Unmount();
    test::ImageBuilder(image_).WriteBytes(offset, bytes);
    Mount(image_);
    EXPECT_EQ(OpenResult("/1"), error) << offset;
  }
}

}  // namespace
}  // namespace vrax
