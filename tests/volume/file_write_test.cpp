// Writing, growing, truncating and rewriting files through the engine, with
// the checker run on the image after every case.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/record_edit.h"
#include "volume/fileops/fileops.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

class FileWriteTest : public test::VolumeTest {
 protected:
  Toolkit* Create(const std::string& path) {
    Toolkit* t = nullptr;
    EXPECT_EQ(ToolkitCreateFile(t, path.c_str()), 0) << path;
    return t;
  }

  static std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(seed);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
  }

  static int32_t Write(Toolkit* t, uint32_t offset, const std::vector<uint8_t>& bytes) {
    uint32_t done = 0;
    const int32_t error =
        FileWrite(t, offset, static_cast<uint32_t>(bytes.size()), bytes.data(), done);
    if (error == kOk) {
      EXPECT_EQ(done, bytes.size());
    }
    return error;
  }

  static std::vector<uint8_t> ReadAll(Toolkit* t) {
    uint32_t size = 0;
    EXPECT_EQ(FileSize(t, size), 0);
    std::vector<uint8_t> bytes(size);
    uint32_t done = 0;
    EXPECT_EQ(FileRead(t, 0, size, bytes.data(), done), 0);
    EXPECT_EQ(done, size);
    return bytes;
  }

  std::vector<uint8_t> ReadPath(const std::string& path) {
    Toolkit* t = Open(path);
    if (t == nullptr) return {};
    auto bytes = ReadAll(t);
    ToolkitClose(t);
    return bytes;
  }

  static uint32_t DescriptorSizeOf(Toolkit* t) {
    uint8_t d[kDescriptorSize] = {};
    EXPECT_EQ(ReadDescriptor(t, d), 0);
    return DescriptorSize(d);
  }
};

// One step on a fresh file: 'w' writes `size` pattern bytes of `seed` at
// `offset`, 't' truncates to `offset`, 'r' expects the data resident with
// `size` bytes of room (0: in clusters).
struct Step {
  char kind;
  uint32_t offset = 0, size = 0, seed = 0;
};

// Each sequence is checked against a model: the descriptor's size and the
// contents read back, before and after closing, and the checker's verdict.
TEST_F(FileWriteTest, WriteSequencesMatchAModel) {
  const std::vector<std::pair<const char*, std::vector<Step>>> sequences = {
      {"a new file is empty", {{'r', 0, 0}}},
      {"small writes stay resident and reuse their room",
       {{'w', 0, 20, 1}, {'r', 0, 32}, {'w', 20, 4, 2}, {'r', 0, 32}}},
      {"growing past the record moves the value into clusters",
       {{'w', 0, 300, 3}, {'w', 300, 5000, 4}, {'r', 0, 0}}},
      {"a write beyond the end leaves zeros in the gap", {{'w', 0, 2000, 5}, {'w', 0x3000, 10, 6}}},
      {"truncate frees clusters and the file is rewritten",
       {{'w', 0, 200000, 8}, {'t', 0}, {'w', 0, 150000, 9}}},
  };
  for (const auto& [what, steps] : sequences) {
    SCOPED_TRACE(what);
    FormatAndMount("--size 8M");
    Toolkit* t = Create("/1/f");
    ASSERT_NE(t, nullptr);
    std::vector<uint8_t> model;
    for (const Step& step : steps) {
      if (step.kind == 'w') {
        const auto bytes = Pattern(step.size, step.seed);
        ASSERT_EQ(Write(t, step.offset, bytes), 0);
        model.resize(std::max<size_t>(model.size(), step.offset + step.size), 0);
        std::copy(bytes.begin(), bytes.end(), model.begin() + step.offset);
      } else if (step.kind == 't') {
        ASSERT_EQ(FileTruncate(t, step.offset), 0);
        model.resize(step.offset);
      } else {
        const uint8_t* data = FindAttribute(t, t->fileChain, AT_DATA);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(AttrIsNonResident(data) ? 0u : AttrLength(data) - AttrValueOffset(data), step.size);
      }
      EXPECT_EQ(DescriptorSizeOf(t), model.size());
    }
    EXPECT_FALSE(IsDirectory(t));
    uint8_t d[kDescriptorSize] = {};
    ASSERT_EQ(ReadDescriptor(t, d), 0);
    EXPECT_EQ(d[0], 0x1B);
    EXPECT_EQ(ReadAll(t), model);
    ToolkitClose(t);
    EXPECT_EQ(ReadPath("/1/f"), model);
    EXPECT_EQ(List("/1").size(), 1u);
    ExpectClean();
  }
}

TEST_F(FileWriteTest, LargeFileReadsBackAcrossEveryBoundary) {
  FormatAndMount("--size 16M");
  Toolkit* t = Create("/1/big");
  ASSERT_NE(t, nullptr);
  const auto data = Pattern(3 * 1024 * 1024 + 777, 7);
  // Written in odd-sized pieces so pieces start and end inside sectors.
  for (uint32_t at = 0; at < data.size(); at += 65537) {
    const uint32_t k = std::min<uint32_t>(65537, static_cast<uint32_t>(data.size()) - at);
    ASSERT_EQ(Write(t, at, std::vector<uint8_t>(data.begin() + at, data.begin() + at + k)), 0);
  }
  EXPECT_EQ(DescriptorSizeOf(t), data.size());
  for (uint32_t offset : {0u, 1u, 511u, 512u, 4095u, 4096u, 100000u, 3145000u}) {
    std::vector<uint8_t> piece(5000);
    uint32_t done = 0;
    ASSERT_EQ(FileRead(t, offset, 5000, piece.data(), done), 0);
    const uint32_t expected = std::min<uint32_t>(5000, static_cast<uint32_t>(data.size()) - offset);
    ASSERT_EQ(done, expected) << offset;
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + done, data.begin() + offset)) << offset;
  }
  uint32_t done = 7;
  uint8_t byte = 0;
  EXPECT_EQ(FileRead(t, static_cast<uint32_t>(data.size()), 1, &byte, done), 0);
  EXPECT_EQ(done, 0u);
  ToolkitClose(t);
  EXPECT_EQ(ReadPath("/1/big"), data);
  ExpectClean();
}

// Files written a cluster at a time in turn end up in many runs each; with
// small records the runs continue in extension records.
TEST_F(FileWriteTest, InterleavedFilesSpreadOverExtensionRecordsAndRewriteCorrectly) {
  FormatAndMount("--size 32M --record-size 1024 --cluster-size 512");
  std::vector<Toolkit*> files;
  std::vector<std::vector<uint8_t>> contents(3);
  for (int i = 0; i < 3; ++i) files.push_back(Create("/1/f" + std::to_string(i)));
  for (uint32_t round = 0; round < 400; ++round) {
    for (int i = 0; i < 3; ++i) {
      const auto piece = Pattern(512, round * 3 + i);
      ASSERT_EQ(Write(files[i], round * 512, piece), 0) << round;
      contents[i].insert(contents[i].end(), piece.begin(), piece.end());
    }
  }
  EXPECT_GT(files[0]->fileChain.Size(), 1u);  // runs continued in extension records
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadAll(files[i]), contents[i]);
  // Truncate and write again: the rewritten file must read back exactly.
  ASSERT_EQ(FileTruncate(files[0], 0), 0);
  for (uint32_t round = 0; round < 300; ++round) {
    const auto piece = Pattern(512, 5000 + round);
    ASSERT_EQ(Write(files[0], round * 512, piece), 0);
    ASSERT_EQ(Write(files[1], (400 + round) * 512, piece), 0);
  }
  for (Toolkit* t : files) ToolkitClose(t);
  std::vector<uint8_t> rewritten;
  for (uint32_t round = 0; round < 300; ++round) {
    const auto piece = Pattern(512, 5000 + round);
    rewritten.insert(rewritten.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(ReadPath("/1/f0"), rewritten);
  EXPECT_EQ(ReadPath("/1/f2"), contents[2]);
  ExpectClean();
}

// A base record filled to its last byte has no room for the attribute
// list that continuing the value elsewhere needs: the write that would need
// it fails, and the file keeps what it held.
TEST_F(FileWriteTest, FullBaseRecordRefusesToGrowAndKeepsItsData) {
  FormatAndMount("--size 32M --cluster-size 512");
  Toolkit* t = Create("/1/full");
  ASSERT_NE(t, nullptr);
  const auto first = Pattern(0x7FFF * 512, 13);  // one run of 0x7FFF clusters
  ASSERT_EQ(Write(t, 0, first), 0);
  const uint32_t room = RecordFreeRoom(t->fileChain.head->image);
  ASSERT_EQ(SetAttributeSize(t, t->fileChain, AT_SECURITY_DESCRIPTOR, room & ~1u), 0);
  ASSERT_EQ(WriteChain(t, t->fileChain), 0);
  const auto more = Pattern(512, 14);  // 0x8000 clusters need a wider length field
  EXPECT_NE(Write(t, static_cast<uint32_t>(first.size()), more), 0);
  EXPECT_EQ(ReadAll(t), first);
  ToolkitClose(t);
  EXPECT_EQ(ReadPath("/1/full"), first);
  ExpectClean();
}

TEST_F(FileWriteTest, FullDiskKeepsEarlierContentsAndLeaksNothing) {
  FormatAndMount("--size 2M");
  Toolkit* t = Create("/1/fill");
  ASSERT_NE(t, nullptr);
  const auto start = Pattern(100000, 10);
  ASSERT_EQ(Write(t, 0, start), 0);
  const auto huge = Pattern(4 * 1024 * 1024, 11);
  uint32_t done = 0;
  EXPECT_EQ(FileWrite(t, static_cast<uint32_t>(start.size()), static_cast<uint32_t>(huge.size()),
                      huge.data(), done),
            kErrHandleDiskFull);
  EXPECT_EQ(ReadAll(t), start);
  ToolkitClose(t);
  EXPECT_EQ(ReadPath("/1/fill"), start);
  ExpectClean();
}

TEST_F(FileWriteTest, WritesBeyondTheValueLimitAreRefused) {
  FormatAndMount("--size 8M");
  Toolkit* t = Create("/1/limit");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(Write(t, 0, Pattern(5000, 12)), 0);  // in clusters now
  uint8_t byte = 1;
  uint32_t done = 0;
  EXPECT_EQ(FileWrite(t, 0xFFFFFFFFu, 1, &byte, done), kErrIncorrectSize);
  EXPECT_EQ(FileWrite(t, 0u - 4096u + 1, 1, &byte, done), kErrIncorrectSize);
  ToolkitClose(t);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
