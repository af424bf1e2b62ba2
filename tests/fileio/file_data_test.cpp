// Moving file data through handles: byte counts, failed writes, reads and
// overwrites at every kind of offset of a file in many runs, the limits of
// the volume's offsets, and handles with deferred durability ("d" in the
// mode).
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "blockdev/block_device.h"
#include "blockdev/device_faults.h"
#include "blockdev/drive_table.h"
#include "fileio_fixture.h"

namespace vrax {
namespace {

using namespace test;

class FileDataTest : public test::FileioTest {};

// Item sizes multiply and results count bytes; a write the volume has no
// room for fails whole, with its error, and leaves the position and the
// file as they were.
TEST_F(FileDataTest, TransfersCountBytesAndAFailedWriteChangesNothing) {
  FormatAndMount("--size 2M");
  VRAX_FILE* file = VRAX_fopen64("/1/f", "w+b");
  ASSERT_NE(file, nullptr);
  const auto bytes = PatternBytes(4000);
  EXPECT_EQ(VRAX_fwrite(bytes.data(), 100, 40, file), 4000u);
  ASSERT_EQ(VRAX_fseeko64(file, 0, SEEK_SET), 0);
  std::vector<uint8_t> buffer(5000);
  EXPECT_EQ(VRAX_fread(buffer.data(), 8, 600, file), 4000u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));
  const auto big = PatternBytes(4 << 20);
  EXPECT_EQ(VRAX_fwrite(big.data(), 1, big.size(), file), 0u);
  EXPECT_EQ(VRAX_LastError(), 39);
  EXPECT_EQ(file->position, 4000u);
  VRAX_fclose(file);
  EXPECT_EQ(ReadFile("/1/f"), bytes);
  ExpectClean();
}

TEST_F(FileDataTest, OverwritesInsideAFragmentedFileLandWhereTheySay) {
  FormatAndMount("--size 16M --cluster-size 512");
  // The two files grow in turns, so that their clusters interleave and
  // each file's data lies in many runs.
  std::vector<std::vector<uint8_t>> contents(2);
  for (size_t round = 0; round < 40; ++round) {
    const auto bytes = PatternBytes(1300, static_cast<uint8_t>(round));
    WriteFile(round % 2 == 0 ? "/1/a" : "/1/b", bytes, "ab");
    contents[round % 2].insert(contents[round % 2].end(), bytes.begin(), bytes.end());
  }
  std::mt19937 random(7);
  VRAX_FILE* file = VRAX_fopen64("/1/a", "r+b");
  ASSERT_NE(file, nullptr);
  for (int i = 0; i < 200; ++i) {
    const size_t start = random() % contents[0].size();
    const size_t length = std::min<size_t>(1 + random() % 3000, contents[0].size() - start);
    const auto bytes = PatternBytes(length, static_cast<uint8_t>(i));
    ASSERT_EQ(VRAX_fseeko64(file, static_cast<int64_t>(start), SEEK_SET), 0);
    ASSERT_EQ(VRAX_fwrite(bytes.data(), 1, length, file), length);
    std::copy(bytes.begin(), bytes.end(), contents[0].begin() + static_cast<ptrdiff_t>(start));
    // Read back a slice around it, starting and ending anywhere in the runs.
    const size_t from = start - std::min<size_t>(start, random() % 1100);
    const auto got = ReadAt(file, from, length + 1100);
    ASSERT_EQ(got.size(), std::min(length + 1100, contents[0].size() - from));
    ASSERT_TRUE(std::equal(got.begin(), got.end(), contents[0].begin() + from)) << from;
  }
  VRAX_fclose(file);
  EXPECT_EQ(ReadFile("/1/a"), contents[0]);
  EXPECT_EQ(ReadFile("/1/b"), contents[1]);
  ExpectClean();
}

// The volume's offsets are 32 bits wide. Positions at or beyond what it
// addresses never reach it cut down to their low 32 bits: a write there
// fails instead of overwriting the start of the file (as does one reaching
// past the largest file, 4 GiB less a cluster), and a read finds nothing.
// Counts that overflow, and seeks outside the file model, are refused.
TEST_F(FileDataTest, NothingBeyondWhatTheVolumeAddressesReachesTheFile) {
  constexpr uint64_t k4G = uint64_t{1} << 32;
  FormatAndMount("--size 8M");
  WriteFile("/1/f", PatternBytes(100));
  VRAX_FILE* file = VRAX_fopen64("/1/f", "r+b");
  ASSERT_NE(file, nullptr);
  const std::pair<uint64_t, size_t> writes[] = {
      {k4G, 10}, {2 * k4G, 1}, {INT64_MAX, 1}, {k4G - 4096, 1}, {k4G - 4096 - 5, 10}};
  for (const auto& [position, count] : writes) {
    const auto bytes = PatternBytes(count, 0x55);
    ASSERT_EQ(VRAX_fseeko64(file, static_cast<int64_t>(position), SEEK_SET), 0);
    EXPECT_EQ(VRAX_fwrite(bytes.data(), 1, count, file), 0u) << position;
    EXPECT_EQ(VRAX_LastError(), 223);
    EXPECT_EQ(file->position, position);
  }
  std::vector<uint8_t> buffer(100);
  for (uint64_t position : {k4G, k4G + 50, 3 * k4G}) {
    ASSERT_EQ(VRAX_fseeko64(file, static_cast<int64_t>(position), SEEK_SET), 0);
    EXPECT_EQ(VRAX_fread(buffer.data(), 1, buffer.size(), file), 0u) << position;
    EXPECT_EQ(file->position, position);
  }
  ASSERT_EQ(VRAX_fseeko64(file, 40, SEEK_SET), 0);
  const size_t huge = SIZE_MAX / 2 + 1;
  EXPECT_EQ(VRAX_fwrite(buffer.data(), 2, huge, file), 0u);
  EXPECT_EQ(VRAX_LastError(), 87);
  EXPECT_EQ(VRAX_fread(buffer.data(), huge, 2, file), 0u);
  EXPECT_EQ(VRAX_LastError(), 87);
  EXPECT_EQ(VRAX_fwrite(buffer.data(), 1, size_t{1} << 33, file), 0u);
  EXPECT_EQ(VRAX_LastError(), 223);
  EXPECT_EQ(VRAX_fseeko64(file, -1, SEEK_SET), -1);
  EXPECT_EQ(VRAX_fseeko64(file, 0, SEEK_END), -1);
  EXPECT_EQ(VRAX_fseeko64(file, 1, SEEK_CUR), -1);
  EXPECT_EQ(file->position, 40u);
  EXPECT_EQ(VRAX_fseeko64(nullptr, 0, SEEK_SET), -1);
  VRAX_fclose(file);
  EXPECT_EQ(ReadFile("/1/f"), PatternBytes(100)) << "the file changed";
  ExpectClean();
}

// What a deferred handle writes is seen by every other call at once and is
// durable once closed; a close that cannot make it durable says so.
TEST_F(FileDataTest, OtherCallsSeeEachPieceAndTheCloseMakesItLast) {
  FormatAndMount("--size 16M");
  VRAX_FILE* file = VRAX_fopen64("/1/big", "wbd");
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> all;
  for (uint8_t i = 0; i < 4; ++i) {
    const std::vector<uint8_t> piece = PatternBytes(i < 3 ? 300000 : 5000, i);
    ASSERT_EQ(VRAX_fwrite(piece.data(), 1, piece.size(), file), piece.size());
    all.insert(all.end(), piece.begin(), piece.end());
    EXPECT_EQ(ReadFile("/1/big"), all);
  }
  EXPECT_EQ(VRAX_fclose(file), 0);
  // A file made for deferred writes has its new name wait for the commit,
  // which is due even when nothing was written.
  file = VRAX_fopen64("/1/empty", "wbd");
  ASSERT_NE(file, nullptr);
  ASSERT_NE(CurrentDrive(), nullptr);
  EXPECT_TRUE(CurrentDrive()->relaxedPending) << "the name went out ordered";
  EXPECT_EQ(VRAX_fclose(file), 0);
  EXPECT_FALSE(CurrentDrive()->relaxedPending) << "the new name waits for no barrier";
  Mount();
  EXPECT_EQ(ReadFile("/1/big"), all);
  struct stat record {};
  EXPECT_EQ(VRAX_stat64("/1/empty", &record), 0);
  EXPECT_EQ(record.st_size, 0);
  ExpectClean();
}

TEST_F(FileDataTest, ACloseThatCannotCommitFailsAndLeavesTheFileAsCommitted) {
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
