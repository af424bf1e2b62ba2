#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "mkfs/geometry.h"
#include "support/image_toolkit.h"
#include "support/temp_file.h"

namespace vrax::mkfs_test {

namespace {

using namespace vrax::test;

class MkfsTarget : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string image_ = dir_.File("volume.img");
};

// The file ends exactly at --size; whatever is not a whole sector at the end
// stays outside the volume.
TEST_F(MkfsTarget, NeverGrowsAFileBeyondItsSize) {
  const uint64_t size = (4ull << 20) + 100;
  ASSERT_EQ(RunMkfs({"--size=" + std::to_string(size), image_}), 0);
  EXPECT_EQ(FileSize(image_), size);
  EXPECT_EQ(ImageBuilder(image_).geometry().totalSectors, (4u << 20) / 512);

  const std::string big = MakeImage(dir_, "big.img", 8 << 20);
  ASSERT_EQ(RunMkfs({"--size", "2M", big}), 0);
  EXPECT_EQ(FileSize(big), 2u << 20);
}

TEST_F(MkfsTarget, ExistingFileKeepsItsSizeAndLosesItsContents) {
  const size_t size = 3 << 20;
  const std::string path = MakeImage(dir_, "old.img", size);
  ASSERT_EQ(RunMkfs({path}), 0);
  EXPECT_EQ(FileSize(path), size);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  EXPECT_EQ(std::count(bytes.end() - (1 << 20), bytes.end(), 0), 1 << 20);  // free clusters
}

TEST_F(MkfsTarget, ImpossibleVolumesAreRefused) {
  EXPECT_EQ(
      RunMkfs({"--sector-size", "4096", "--cluster-size", "2048", "--size", "64M", image_}), 2);
  EXPECT_EQ(RunMkfs({"--size", "256K", image_}), 2);
  EXPECT_FALSE(std::filesystem::exists(image_));
  // 2^32 sectors of 512 bytes do not fit the boot sector's 32-bit count.
  EXPECT_EQ(RunMkfs({"--size", "2048G", image_}), 2);
  EXPECT_FALSE(std::filesystem::exists(image_));
  const std::string tiny = MakeImage(dir_, "tiny.img", 64 << 10);
  EXPECT_EQ(RunMkfs({tiny}), 2);
  EXPECT_EQ(ReadFileBytes(tiny), PatternBytes(64 << 10));
}

TEST_F(MkfsTarget, UsageErrorsAndBadValuesHaveTheirOwnCodes) {
  EXPECT_EQ(RunMkfs({image_}), 1);  // a new file needs --size
  EXPECT_EQ(RunMkfs({"--size", "64M"}), 1);
  EXPECT_EQ(RunMkfs({"--bogus", "--size", "64M", image_}), 1);
  EXPECT_EQ(RunMkfs({"--size", "64M", image_, "second.img"}), 1);
  EXPECT_EQ(RunMkfs({"--size", "64Q", image_}), 2);
  EXPECT_EQ(RunMkfs({"--size", "99999999999999999999", image_}), 2);
  EXPECT_FALSE(std::filesystem::exists(image_));
  EXPECT_EQ(RunMkfs({"--help"}), 0);
  EXPECT_EQ(RunMkfs({"--size", "64M", dir_.path()}), 3);  // a directory is no target
}

TEST_F(MkfsTarget, AnExistingVolumeIsOnlyReplacedWithForce) {
  ASSERT_EQ(RunMkfs({"--size", "8M", image_}), 0);
  const std::vector<uint8_t> before = ReadFileBytes(image_);

  EXPECT_EQ(RunMkfs({"--size", "16M", "--sector-size", "4096", image_}), 3);
  EXPECT_EQ(ReadFileBytes(image_), before);

  ASSERT_EQ(RunMkfs({"--force", "--size", "16M", "--sector-size", "4096", image_}), 0);
  EXPECT_EQ(ImageBuilder(image_).geometry().bytesPerSector, 4096u);
  EXPECT_EQ(FileSize(image_), 16u << 20);
}

TEST(MkfsGeometry, ImpossibleUnitsAreRefused) {
  const mkfs::GeometryRequest refused[] = {
      {64 << 20, 1024},
      {64 << 20, 4096, 2048},
      {64 << 20, 0, 3000},
      {64 << 20, 0, 128 << 10},
      {64 << 20, 0, 0, 512},
      {64 << 20, 0, 0, 0, 2048},
      {64 << 20, 0, 16384, 0, 8192},
  };
  for (const mkfs::GeometryRequest& r : refused) {
    mkfs::VolumeLayout l;
    std::string error;
    EXPECT_FALSE(mkfs::ComputeLayout(r, l, error)) << r.sectorSize << "/" << r.clusterSize;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vrax::mkfs_test
