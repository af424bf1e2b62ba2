// Run lists: the width rule, the encoding relative to the last cluster of the
// previous run, and the rejection of damaged lists without over-reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "volume/format/runlist.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

// Appends the run (length, lcn) after a run ending at cluster `previousLast`
// (0 for the first run), the way a run list is extended.
void AppendRun(Bytes& list, uint32_t length, uint32_t lcn, uint32_t previousLast) {
  const int64_t offset = static_cast<int64_t>(lcn) - previousLast;
  const uint32_t lb = RunFieldWidth(true, length);
  const uint32_t ob = OffsetFieldWidth(offset);
  const size_t at = list.empty() ? 0 : list.size() - 1;  // over the terminator
  list.resize(at + 2 + lb + ob);
  EncodeRun(list.data() + at, lb, ob, length, offset);
}

// The least width holding the value as a signed number, at most four bytes.
TEST(RunFieldWidth, ValuesTakeTheLeastSignedWidth) {
  const std::pair<int64_t, uint32_t> cases[] = {
      {0, 0},          {0x7F, 1}, {0x80, 2},   {0x7FFF, 2}, {0x8000, 3},   {0x800000, 4},
      {0xFFFFFFFF, 4}, {-1, 1},   {-128, 1},   {-129, 2},   {-32769, 3},   {-8388609, 4}};
  for (const auto& [value, width] : cases) {
    EXPECT_EQ(RunFieldWidth(value >= 0, static_cast<uint32_t>(value)), width) << value;
  }
}

// Offsets take the least signed width, up to five bytes on volumes of more
// than 2^31 clusters: four would turn the sign of such an offset.
TEST(RunFieldWidth, OffsetsKeepTheirSignBeyondThirtyOneBits) {
  const std::pair<int64_t, uint32_t> cases[] = {{0, 1},           {-17, 1},          {0x80, 2},
                                                {-129, 2},        {0x7FFFFFFF, 4},   {-0x80000000LL, 4},
                                                {0x80000000LL, 5}, {-0x80000001LL, 5}, {-2355088589LL, 5}};
  for (const auto& [offset, width] : cases) EXPECT_EQ(OffsetFieldWidth(offset), width) << offset;
  // Runs on a huge volume: the third lies more than 2^31 clusters before
  // the second's end, and still decodes where it was put.
  const std::vector<ClusterRun> runs = {{12722, 1610623562}, {1623440674, 1610623562}, {878975646, 5}};
  Bytes list = EncodeRunList(runs);
  list.push_back(0);
  std::vector<ClusterRun> back;
  ASSERT_TRUE(DecodeRunList(list.data(), static_cast<uint32_t>(list.size()), back));
  ASSERT_EQ(back.size(), runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(back[i].lcn, runs[i].lcn) << i;
    EXPECT_EQ(back[i].length, runs[i].length) << i;
  }
}

TEST(RunList, SecondOffsetIsRelativeToTheLastClusterOfTheFirstRun) {
  Bytes list;
  AppendRun(list, 8, 100, 0);
  AppendRun(list, 4, 90, 107);
  EXPECT_EQ(list, (Bytes{0x11, 0x08, 0x64, 0x11, 0x04, 0xEF, 0x00}));
}

TEST(RunList, DecodesTheWorkedExampleBackToItsClusters) {
  const Bytes list{0x11, 0x08, 0x64, 0x11, 0x04, 0xEF, 0x00};
  uint32_t pos = 0, p = 0, lcn = 0;
  DecodedRun run;

  ASSERT_EQ(DecodeRun(list.data(), 7, pos, run), RunStatus::kRun);
  EXPECT_EQ(run.length, 8u);
  EXPECT_EQ(run.offset, 100);
  EXPECT_EQ(run.lengthBytes, 1u);
  EXPECT_EQ(run.offsetBytes, 1u);
  ASSERT_TRUE(AdvanceRun(run, p, lcn));
  EXPECT_EQ(lcn, 100u);
  EXPECT_EQ(p, 107u);

  ASSERT_EQ(DecodeRun(list.data(), 7, pos, run), RunStatus::kRun);
  EXPECT_EQ(run.length, 4u);
  EXPECT_EQ(run.offset, -17);
  ASSERT_TRUE(AdvanceRun(run, p, lcn));
  EXPECT_EQ(lcn, 90u);
  EXPECT_EQ(p, 93u);

  EXPECT_EQ(DecodeRun(list.data(), 7, pos, run), RunStatus::kEnd);
  EXPECT_EQ(pos, 6u);
}

TEST(RunList, SummaryGivesLastClusterLastLengthAndEncodedBytes) {
  const Bytes list{0x11, 0x08, 0x64, 0x11, 0x04, 0xEF, 0x00};
  uint32_t last = 0, lastLength = 0, encoded = 0;
  ASSERT_TRUE(RunListSummary(list.data(), static_cast<uint32_t>(list.size()), last, lastLength,
                             encoded));
  EXPECT_EQ(last, 93u);
  EXPECT_EQ(lastLength, 4u);
  EXPECT_EQ(encoded, 6u);
  ASSERT_TRUE(RunListSummary(list.data() + 6, 1, last, lastLength, encoded));  // empty list
  EXPECT_EQ(last + lastLength + encoded, 0u);
}

TEST(RunList, OffsetsSurviveEncodeAndDecodeAtEveryWidth) {
  const int64_t offsets[] = {0x7F, 0x80, 0x8000, -1, -129, -32769, -0x800001, 0x12345678};
  for (const int64_t offset : offsets) {
    Bytes list(16, 0xCC);
    const uint32_t ob = OffsetFieldWidth(offset);
    EncodeRun(list.data(), 1, ob, 3, offset);
    EXPECT_EQ(list[2 + ob], 0x00) << "terminator after offset " << offset;
    uint32_t pos = 0;
    DecodedRun run;
    ASSERT_EQ(DecodeRun(list.data(), 16, pos, run), RunStatus::kRun) << offset;
    EXPECT_EQ(run.offset, offset);
    EXPECT_EQ(pos, 2 + ob);
  }
}

// Each case is a heap buffer of exactly the list's size, so a read past it
// shows under AddressSanitizer.
RunStatus DecodeFirst(const Bytes& list) {
  Bytes exact(list);
  uint32_t pos = 0;
  DecodedRun run;
  return DecodeRun(exact.data(), static_cast<uint32_t>(exact.size()), pos, run);
}

TEST(RunList, MalformedRunsAreRefused) {
  const Bytes cases[] = {
      {0x01, 0x08, 0x00},                                // no offset bytes
      {0x10, 0x08, 0x00},                                // no length bytes
      {0x11},                                            // fields past the end
      {0x44, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00},  // fields past the end
      {0x11, 0x00, 0x05, 0x00},                          // length zero
      {0x15, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00},  // length beyond 32 bits
      {},
  };
  for (const Bytes& list : cases) {
    EXPECT_EQ(DecodeFirst(list), RunStatus::kMalformed) << list.size();
  }
}

// No terminator, a run before cluster 0, an eight-byte offset beyond 32
// bits (first or after a run): no summary.
TEST(RunList, SummaryRejectsListsOutsideTheVolume) {
  const Bytes cases[] = {
      {0x11, 0x08, 0x64},
      {0x11, 0x08, 0x64, 0x11, 0x04, 0x90, 0x00},  // 107 - 112 < 0
      {0x81, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00},
      {0x11, 0x08, 0x64, 0x81, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00},
  };
  for (const Bytes& list : cases) {
    uint32_t last = 0, lastLength = 0, encoded = 0;
    EXPECT_FALSE(RunListSummary(list.data(), static_cast<uint32_t>(list.size()), last, lastLength,
                                encoded))
        << list.size();
  }
}

TEST(AdvanceRun, RejectsPositionsOutside32Bits) {
  uint32_t p = 0, lcn = 0;
  DecodedRun below;
  below.length = 1;
  below.offset = -1;
  EXPECT_FALSE(AdvanceRun(below, p, lcn));

  DecodedRun beyond;
  beyond.length = 2;
  beyond.offset = 0xFFFFFFFFll;
  p = 0;
  EXPECT_FALSE(AdvanceRun(beyond, p, lcn));

  DecodedRun lastCluster;
  lastCluster.length = 1;
  lastCluster.offset = 0xFFFFFFFFll;
  p = 0;
  ASSERT_TRUE(AdvanceRun(lastCluster, p, lcn));
  EXPECT_EQ(lcn, 0xFFFFFFFFu);
  EXPECT_EQ(p, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace vrax
