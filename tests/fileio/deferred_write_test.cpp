// Handles with deferred durability ("d" in the mode): what they write is
// seen by every other call at once, is durable once the handle is closed,
// and a close that cannot make it durable says so.
#include <string>
#include <vector>

#include "blockdev/block_device.h"
#include "blockdev/device_faults.h"
#include "fileio/drive_table.h"
#include "fileio_fixture.h"

namespace vrax {
namespace {

class DeferredWriteTest : public test::FileioTest {};

using test::PatternBytes;

TEST_F(DeferredWriteTest, OtherCallsSeeEachPieceAndTheCloseMakesItLast) {
  FormatAndMount("--size 16M");
  VRAX_FILE* file = VRAX_fopen64("/1/big", "wbd");
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> all;
  for (uint8_t i = 0; i < 3; ++i) {
    const std::vector<uint8_t> piece = PatternBytes(300000, i);
    ASSERT_EQ(VRAX_fwrite(piece.data(), 1, piece.size(), file), piece.size());
    all.insert(all.end(), piece.begin(), piece.end());
    EXPECT_EQ(Stat("/1/big").st_size, static_cast<off_t>(all.size()));
    EXPECT_EQ(ReadFile("/1/big"), all);
  }
  const std::vector<uint8_t> last = PatternBytes(5000, 9);
  ASSERT_EQ(VRAX_fwrite(last.data(), 1, last.size(), file), last.size());
  all.insert(all.end(), last.begin(), last.end());
  EXPECT_EQ(VRAX_fclose(file), 0);
  Mount();
  EXPECT_EQ(ReadFile("/1/big"), all);
  ExpectClean();
}

TEST_F(DeferredWriteTest, ACloseThatCannotCommitFailsAndLeavesTheFileAsCommitted) {
  FormatAndMount("--size 16M");
  WriteFile("/1/f", PatternBytes(1000, 1));
  VRAX_FILE* file = VRAX_fopen64("/1/f", "abd");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(VRAX_fseeko64(file, 1000, SEEK_SET), 0);
  const std::vector<uint8_t> piece = PatternBytes(200000, 2);
  ASSERT_EQ(VRAX_fwrite(piece.data(), 1, piece.size(), file), piece.size());
  BlockDevice* device = CurrentDrive();
  ASSERT_NE(device, nullptr);
  ArmDeviceFault(*device, FaultedTransfer::kWrite, 0, 39);
  EXPECT_EQ(test::CapturedStderr([&] { EXPECT_EQ(VRAX_fclose(file), -1); }).empty(), false);
  DisarmDeviceFaults(*device);
  Mount();
  EXPECT_EQ(ReadFile("/1/f"), PatternBytes(1000, 1));
  ExpectClean();
}

}  // namespace
}  // namespace vrax
