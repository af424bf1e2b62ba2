#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "platform/error_codes.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/record_edit.h"
#include "volume/fileops/fileops.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using test::Bytes;
using test::RandomBytes;
using test::ReadPath;

class FileWriteTest : public test::VolumeTest {
 protected:
  Toolkit* StartWith(const std::string& arguments, const std::string& path) {
    FormatAndMount(arguments);
    Toolkit* t = nullptr;
    EXPECT_EQ(ToolkitCreateFile(t, path.c_str()), 0) << path;
    return t;
  }

  static int32_t Write(Toolkit* t, uint32_t offset, const Bytes& bytes) {
    uint32_t done = 0;
    const int32_t error =
        FileWrite(t, offset, static_cast<uint32_t>(bytes.size()), bytes.data(), done);
    EXPECT_TRUE(error != kOk || done == bytes.size());
    return error;
  }
};

// One step on a fresh file: 'w' writes `size` random bytes of `seed` at
// `offset`, 't' truncates to `offset`, 'r' expects the data resident with
// `size` bytes of room (0: in clusters).
struct Step {
  char kind;
  uint32_t offset = 0, size = 0, seed = 0;
};

// Each sequence is checked against a model: the descriptor's size after
// every step, the contents read back after closing, and the checker's verdict.
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
    Toolkit* t = StartWith("--size 8M", "/1/f");
    ASSERT_NE(t, nullptr);
    Bytes model;
    for (const Step& step : steps) {
      if (step.kind == 'w') {
        const Bytes bytes = RandomBytes(step.size, step.seed);
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
        // A record one of whose values went into clusters says so in its header.
        EXPECT_EQ(RecordFlags(t->fileChain.head->image) & record::kFlagInUse,
                  AttrIsNonResident(data) ? record::kFlagInUse : 0);
      }
      uint8_t d[kDescriptorSize] = {};
      ASSERT_EQ(ReadDescriptor(t, d), 0);
      EXPECT_EQ(DescriptorSize(d), model.size());
      EXPECT_EQ(d[0], 0x1B);
    }
    ToolkitClose(t);
    EXPECT_EQ(ReadPath("/1/f"), model);
    ExpectClean();
  }
}

TEST_F(FileWriteTest, LargeFileWrittenInOddPiecesReadsBack) {
  Toolkit* t = StartWith("--size 16M", "/1/big");
  ASSERT_NE(t, nullptr);
  const Bytes data = RandomBytes(3 * 1024 * 1024 + 777, 7);
  // Written in odd-sized pieces so pieces start and end inside sectors.
  for (uint32_t at = 0; at < data.size(); at += 65537) {
    const uint32_t k = std::min<uint32_t>(65537, static_cast<uint32_t>(data.size()) - at);
    ASSERT_EQ(Write(t, at, Bytes(data.begin() + at, data.begin() + at + k)), 0);
  }
  ToolkitClose(t);
  EXPECT_EQ(ReadPath("/1/big"), data);
  ExpectClean();
}

// Files written a cluster at a time in turn end up in many runs each; with
// small records the runs continue in extension records. One is then
// truncated and rewritten while another grows on.
TEST_F(FileWriteTest, InterleavedFilesSpreadOverExtensionRecordsAndRewriteCorrectly) {
  FormatAndMount("--size 32M --record-size 1024 --cluster-size 512");
  std::vector<Toolkit*> files(3);
  std::vector<Bytes> contents(3);
  for (size_t i = 0; i < files.size(); ++i) {
    ASSERT_EQ(ToolkitCreateFile(files[i], ("/1/f" + std::to_string(i)).c_str()), 0);
  }
  const auto append = [&](size_t i, uint32_t seed) {
    const Bytes piece = RandomBytes(512, seed);
    ASSERT_EQ(Write(files[i], static_cast<uint32_t>(contents[i].size()), piece), 0) << seed;
    contents[i].insert(contents[i].end(), piece.begin(), piece.end());
  };
  for (uint32_t round = 0; round < 400; ++round) {
    for (size_t i = 0; i < files.size(); ++i) append(i, round * 3 + static_cast<uint32_t>(i));
  }
  EXPECT_GT(files[0]->fileChain.Size(), 1u);  // runs continued in extension records
  ASSERT_EQ(FileTruncate(files[0], 0), 0);
  contents[0].clear();
  for (uint32_t round = 0; round < 300; ++round) {
    append(0, 5000 + round);
    append(1, 9000 + round);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    ToolkitClose(files[i]);
    EXPECT_EQ(ReadPath("/1/f" + std::to_string(i)), contents[i]) << i;
  }
  ExpectClean();
}

// A base record filled to its last byte has no room for the attribute
// list that continuing the value elsewhere needs: the write that would need
// it fails, and the file keeps what it held.
TEST_F(FileWriteTest, FullBaseRecordRefusesToGrowAndKeepsItsData) {
  Toolkit* t = StartWith("--size 32M --cluster-size 512", "/1/full");
  ASSERT_NE(t, nullptr);
  const Bytes first = RandomBytes(0x7FFF * 512, 13);  // one run of 0x7FFF clusters
  ASSERT_EQ(Write(t, 0, first), 0);
  const uint32_t room = RecordFreeRoom(t->fileChain.head->image);
  ASSERT_EQ(SetAttributeSize(t, t->fileChain, AT_SECURITY_DESCRIPTOR, room & ~1u), 0);
  ASSERT_EQ(WriteChain(t, t->fileChain), 0);
  // 0x8000 clusters need a wider length field.
  EXPECT_NE(Write(t, static_cast<uint32_t>(first.size()), RandomBytes(512, 14)), 0);
  ToolkitClose(t);
  EXPECT_EQ(ReadPath("/1/full"), first);
  ExpectClean();
}

// Writes past the value limit and past the free clusters are refused; the
// file keeps what it held and nothing leaks.
TEST_F(FileWriteTest, RefusedWritesKeepEarlierContentsAndLeakNothing) {
  Toolkit* t = StartWith("--size 2M", "/1/fill");
  ASSERT_NE(t, nullptr);
  const Bytes start = RandomBytes(100000, 10);
  ASSERT_EQ(Write(t, 0, start), 0);
  uint8_t byte = 1;
  uint32_t done = 0;
  EXPECT_EQ(FileWrite(t, 0xFFFFFFFFu, 1, &byte, done), kErrIncorrectSize);
  EXPECT_EQ(FileWrite(t, 0u - 4096u + 1, 1, &byte, done), kErrIncorrectSize);
  const Bytes huge = RandomBytes(4 * 1024 * 1024, 11);
  EXPECT_EQ(FileWrite(t, static_cast<uint32_t>(start.size()), static_cast<uint32_t>(huge.size()),
                      huge.data(), done),
            kErrHandleDiskFull);
  ToolkitClose(t);
  EXPECT_EQ(ReadPath("/1/fill"), start);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
