// Mounting volumes made by vrax-mkfs and walking paths on them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/error_codes.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"
#include "volume/index/index.h"

namespace vrax {
namespace {

using test::VolumeTest;

class MountTest : public VolumeTest {};

TEST_F(MountTest, FreshVolumeOpensTheRootWithAnEmptyListing) {
  FormatAndMount("--size 8M");
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(IsDirectory(t));
  EXPECT_EQ(OpenedRecordNumber(t), 5u);
  EXPECT_TRUE(IsSystemRecord(t));
  EXPECT_EQ(t->bytesPerSector, 512u);
  EXPECT_EQ(t->clusterSize, 4096u);
  EXPECT_EQ(t->recordSize, 1024u);
  EXPECT_EQ(t->indexBlockSize, 4096u);

  std::vector<uint8_t> buffer(4096, 0xEE);
  uint32_t delivered = 0;
  ASSERT_EQ(ReadDirectory(t, 0, 4096, buffer.data(), delivered), 0);
  ASSERT_EQ(delivered, 64u);  // ".." and "." only: system records are not listed
  EXPECT_STREQ(reinterpret_cast<char*>(buffer.data()), "..");
  EXPECT_EQ(GetLE32(buffer.data() + 28), 5u);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer.data() + 32), ".");
  EXPECT_EQ(GetLE32(buffer.data() + 60), 5u);
  ToolkitClose(t);
}

TEST_F(MountTest, ReadDirectoryDeliversOnlyWholeRequestedRecords) {
  FormatAndMount("--size 8M");
  Toolkit* t = Open("/1/");
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> buffer(128, 0);
  uint32_t delivered = 99;
  EXPECT_EQ(ReadDirectory(t, 0, 0, buffer.data(), delivered), 0);
  EXPECT_EQ(delivered, 0u);
  EXPECT_EQ(ReadDirectory(t, 0, 32, buffer.data(), delivered), 0);
  EXPECT_EQ(delivered, 32u);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer.data()), "..");
  EXPECT_EQ(ReadDirectory(t, 32, 64, buffer.data(), delivered), 0);
  EXPECT_EQ(delivered, 32u);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer.data()), ".");
  EXPECT_EQ(ReadDirectory(t, 16, 32, buffer.data(), delivered), kErrAccessDenied);
  EXPECT_EQ(ReadDirectory(t, 0, 48, buffer.data(), delivered), kErrAccessDenied);
  ToolkitClose(t);
}

TEST_F(MountTest, DotAndDotDotResolveInThePathWalk) {
  FormatAndMount("--size 8M");
  for (const char* path : {"/1/.", "/1/..", "/1/./..", "/1/../."}) {
    Toolkit* t = Open(path);
    ASSERT_NE(t, nullptr) << path;
    EXPECT_EQ(OpenedRecordNumber(t), 5u) << path;
    ToolkitClose(t);
  }
  EXPECT_EQ(OpenResult("/1/missing"), kErrPathNotFound);
  EXPECT_EQ(OpenResult("/1/missing/.."), kErrPathNotFound);
}

TEST_F(MountTest, FourKibibyteSectorsWithSmallerRecordsMount) {
  FormatAndMount("--size 16M --sector-size 4096 --record-size 1024");
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->bytesPerSector, 4096u);
  EXPECT_EQ(t->recordSize, 1024u);
  EXPECT_EQ(List("/1").size(), 0u);
  ToolkitClose(t);
}

TEST_F(MountTest, FourKibibyteSectorsWithDefaultRecordsMount) {
  FormatAndMount("--size 16M --sector-size 4096");
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->recordSize, 4096u);
  ToolkitClose(t);
}

TEST_F(MountTest, SystemRecordsCannotBeRemovedOrRenamed) {
  FormatAndMount("--size 8M");
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(CheckRemovable(t), kErrAccessDenied);
  EXPECT_EQ(CheckWritable(t), 0);
  ToolkitClose(t);
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
  EXPECT_EQ(VolumeReadSectors(t, buffer.data(), 0, 4), 0);  // sector 0 is never refused
  EXPECT_EQ(VolumeReadSectors(t, buffer.data(), 5, 0), 0);
  ToolkitClose(t);
}

TEST_F(MountTest, DeviceSectorsBelowFiveHundredTwelveAreRefused) {
  FormatAndMount("--size 8M");
  device_->sectorSize = 256;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(OpenResult("/1"), kErrAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Toolkit not initialised correctly.\n");
}

// Damaged boot sectors are answered with their error numbers.
class BootSectorDamageTest : public VolumeTest {
 protected:
  void Patch(uint32_t offset, const std::vector<uint8_t>& bytes) {
    Unmount();
    test::PatchFileBytes(image_, offset, bytes);
    Mount(image_);
  }
};

TEST_F(BootSectorDamageTest, WrongIdentifierGives114) {
  FormatAndMount("--size 8M");
  Patch(3, {'N', 'T', 'F', 'S', 'x', ' ', ' ', ' '});
  EXPECT_EQ(OpenResult("/1"), kErrBadStructure);
}

TEST_F(BootSectorDamageTest, BytesPerSectorNotAPowerOfTwoGives160) {
  FormatAndMount("--size 8M");
  Patch(0x0B, {0x00, 0x03});
  EXPECT_EQ(OpenResult("/1"), kErrBadArguments);
  Patch(0x0B, {0x00, 0x00});
  EXPECT_EQ(OpenResult("/1"), kErrBadArguments);
}

TEST_F(BootSectorDamageTest, ImpossibleGeometryGives114) {
  FormatAndMount("--size 8M");
  Patch(0x0D, {0x00});  // no sectors per cluster
  EXPECT_EQ(OpenResult("/1"), kErrBadStructure);
  FormatAndMount("--size 8M");
  Patch(0x40, {0x00, 0x00, 0x00, 0x00});  // record size 0
  EXPECT_EQ(OpenResult("/1"), kErrBadStructure);
  FormatAndMount("--size 8M");
  Patch(0x30, {0xFF, 0xFF, 0xFF, 0x7F});  // MFT beyond the volume
  EXPECT_EQ(OpenResult("/1"), kErrBadStructure);
}

TEST_F(BootSectorDamageTest, TruncatedImageFailsWithoutCrashing) {
  FormatAndMount("--size 8M");
  Unmount();
  std::filesystem::resize_file(image_, 8192);
  Mount(image_);
  ::testing::internal::CaptureStderr();
  EXPECT_NE(OpenResult("/1"), 0);
  ::testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace vrax
