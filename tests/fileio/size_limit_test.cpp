// The volume's offsets are 32 bits wide. Positions at or beyond what it
// addresses never reach it cut down to their low 32 bits: a write there
// fails instead of overwriting the start of the file, and a read there
// finds nothing.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using test::PatternBytes;

constexpr uint64_t k4G = uint64_t{1} << 32;
constexpr uint64_t kCluster = 4096;

class SizeLimitTest : public test::FileioTest {
 protected:
  void SetUp() override {
    FileioTest::SetUp();
    FormatAndMount("--size 8M");
    WriteFile("/1/f", PatternBytes(100));
    file_ = VRAX_fopen64("/1/f", "r+b");
    ASSERT_NE(file_, nullptr);
  }
  void TearDown() override {
    VRAX_fclose(file_);
    EXPECT_EQ(ReadFile("/1/f"), PatternBytes(100)) << "the file changed";
    Unmount();
    ExpectClean();
    FileioTest::TearDown();
  }

  // A write of `count` bytes at `position`, expected to be refused.
  void ExpectWriteRefused(uint64_t position, size_t count) {
    const auto bytes = PatternBytes(count, 0x55);
    ASSERT_EQ(VRAX_fseeko64(file_, static_cast<int64_t>(position), SEEK_SET), 0);
    EXPECT_EQ(VRAX_fwrite(bytes.data(), 1, bytes.size(), file_), 0u) << position;
    EXPECT_EQ(VRAX_LastError(), 223);
    EXPECT_EQ(file_->position, position);
  }

  VRAX_FILE* file_ = nullptr;
};

// Writes at 4 GiB and beyond, or reaching past the largest file (4 GiB
// less a cluster), fail; reads there find nothing.
TEST_F(SizeLimitTest, NothingAtOrBeyondFourGigabytesReachesTheFile) {
  ExpectWriteRefused(k4G, 10);
  ExpectWriteRefused(2 * k4G, 1);
  ExpectWriteRefused(std::numeric_limits<int64_t>::max(), 1);
  ExpectWriteRefused(k4G - kCluster, 1);
  ExpectWriteRefused(k4G - kCluster - 5, 10);
  std::vector<uint8_t> buffer(100);
  for (uint64_t position : {k4G, k4G + 1, k4G + 50, 3 * k4G}) {
    ASSERT_EQ(VRAX_fseeko64(file_, static_cast<int64_t>(position), SEEK_SET), 0);
    EXPECT_EQ(VRAX_fread(buffer.data(), 1, buffer.size(), file_), 0u) << position;
    EXPECT_EQ(file_->position, position);
  }
}

TEST_F(SizeLimitTest, OverflowingCountsAndSeeksOutsideTheFileModelAreRefused) {
  uint8_t byte = 0;
  const size_t huge = std::numeric_limits<size_t>::max() / 2 + 1;
  EXPECT_EQ(VRAX_fwrite(&byte, 2, huge, file_), 0u);
  EXPECT_EQ(VRAX_LastError(), 87);
  EXPECT_EQ(VRAX_fread(&byte, huge, 2, file_), 0u);
  EXPECT_EQ(VRAX_LastError(), 87);
  EXPECT_EQ(VRAX_fwrite(&byte, 1, size_t{1} << 33, file_), 0u);
  EXPECT_EQ(VRAX_LastError(), 223);
  ASSERT_EQ(VRAX_fseeko64(file_, 40, SEEK_SET), 0);
  EXPECT_EQ(VRAX_fseeko64(file_, -1, SEEK_SET), -1);
  EXPECT_EQ(VRAX_fseeko64(file_, 0, SEEK_END), -1);
  EXPECT_EQ(VRAX_fseeko64(file_, 1, SEEK_CUR), -1);
  EXPECT_EQ(file_->position, 40u);
  EXPECT_EQ(VRAX_fseeko64(nullptr, 0, SEEK_SET), -1);
}

}  // namespace
}  // namespace vrax
