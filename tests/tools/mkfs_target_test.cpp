// How vrax-mkfs treats its target and its command line: sizes, refusals,
// existing volumes, exit codes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/image_toolkit.h"
#include "support/temp_file.h"

namespace vrax::mkfs_test {

using test::FileSize;
using test::ImageBuilder;
using test::MakeImage;
using test::PatternBytes;
using test::RunMkfs;
using test::TempDir;
using test::ToolRun;

std::vector<uint8_t> WholeFile(const std::string& path) { return test::ReadFileBytes(path); }
namespace {

class MkfsTarget : public ::testing::Test {
 protected:
  ToolRun Mkfs(const std::vector<std::string>& args) { return RunMkfs(args, dir_.path()); }
  bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
  }

  TempDir dir_;
  const std::string image_ = dir_.File("volume.img");
};

// The file ends exactly at --size; whatever is not a whole sector at the end
// stays outside the volume.
TEST_F(MkfsTarget, NeverGrowsAFileBeyondItsSize) {
  const uint64_t size = (4ull << 20) + 100;
  ASSERT_EQ(Mkfs({"--size=" + std::to_string(size), image_}).exitCode, 0);
  EXPECT_EQ(FileSize(image_), size);
  EXPECT_EQ(ImageBuilder(image_).geometry().totalSectors, (4u << 20) / 512);

  const std::string big = MakeImage(dir_, "big.img", 8 << 20);
  ASSERT_EQ(Mkfs({"--size", "2M", big}).exitCode, 0);
  EXPECT_EQ(FileSize(big), 2u << 20);
}

TEST_F(MkfsTarget, ExistingFileKeepsItsSizeAndLosesItsContents) {
  const size_t size = 3 << 20;
  const std::string path = MakeImage(dir_, "old.img", size);
  ASSERT_EQ(Mkfs({path}).exitCode, 0);
  EXPECT_EQ(FileSize(path), size);
  const std::vector<uint8_t> bytes = WholeFile(path);
  EXPECT_EQ(std::count(bytes.end() - (1 << 20), bytes.end(), 0), 1 << 20);  // free clusters
}

// The whole matrix of rules is in mkfs_units_test.cpp.
TEST_F(MkfsTarget, ImpossibleGeometryIsRefusedBeforeAnythingIsCreated) {
  const ToolRun run = Mkfs({"--sector-size", "4096", "--cluster-size", "2048", "--size", "64M", image_});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_FALSE(run.err.empty());
  EXPECT_FALSE(Exists(image_));
}

TEST_F(MkfsTarget, VolumesThatCannotHoldEnoughAreRefused) {
  const ToolRun tooSmall = Mkfs({"--size", "256K", image_});
  EXPECT_EQ(tooSmall.exitCode, 2);
  EXPECT_NE(tooSmall.err.find("too small"), std::string::npos) << tooSmall.err;
  EXPECT_FALSE(Exists(image_));
  // 2^32 sectors of 512 bytes do not fit the boot sector's 32-bit count.
  EXPECT_EQ(Mkfs({"--size", "2048G", image_}).exitCode, 2);
  EXPECT_FALSE(Exists(image_));
  const std::string tiny = MakeImage(dir_, "tiny.img", 64 << 10);
  EXPECT_EQ(Mkfs({tiny}).exitCode, 2);
  EXPECT_EQ(WholeFile(tiny), PatternBytes(64 << 10));
}

TEST_F(MkfsTarget, UsageErrorsAndBadValuesHaveTheirOwnCodes) {
  EXPECT_EQ(Mkfs({image_}).exitCode, 1);  // a new file needs --size
  EXPECT_EQ(Mkfs({"--size", "64M"}).exitCode, 1);
  EXPECT_EQ(Mkfs({"--bogus", "--size", "64M", image_}).exitCode, 1);
  EXPECT_EQ(Mkfs({"--size", "64M", image_, "second.img"}).exitCode, 1);
  EXPECT_EQ(Mkfs({image_, "--size"}).exitCode, 1);
  EXPECT_EQ(Mkfs({"--size", "64Q", image_}).exitCode, 2);
  EXPECT_EQ(Mkfs({"--size", "-64M", image_}).exitCode, 2);
  EXPECT_EQ(Mkfs({"--size", "99999999999999999999", image_}).exitCode, 2);
  EXPECT_FALSE(Exists(image_));
  EXPECT_EQ(Mkfs({"--help"}).exitCode, 0);
}

TEST_F(MkfsTarget, ADirectoryIsNoTarget) {
  EXPECT_EQ(Mkfs({"--size", "64M", dir_.path()}).exitCode, 3);
}

TEST_F(MkfsTarget, AnExistingVolumeIsOnlyReplacedWithForce) {
  ASSERT_EQ(Mkfs({"--size", "8M", image_}).exitCode, 0);
  const std::vector<uint8_t> before = WholeFile(image_);

  const ToolRun refused = Mkfs({"--size", "16M", "--sector-size", "4096", image_});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
  EXPECT_EQ(WholeFile(image_), before);

  ASSERT_EQ(Mkfs({"--force", "--size", "16M", "--sector-size", "4096", image_}).exitCode, 0);
  EXPECT_EQ(ImageBuilder(image_).geometry().bytesPerSector, 4096u);
  EXPECT_EQ(FileSize(image_), 16u << 20);
}

}  // namespace
}  // namespace vrax::mkfs_test
