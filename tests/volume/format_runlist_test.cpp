#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "volume/format/runlist.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

// The least width holding the value as a signed number, at most four bytes;
// offsets up to five on volumes of more than 2^31 clusters, as four would
// turn the sign of such an offset.
TEST(RunFieldWidth, ValuesTakeTheLeastSignedWidth) {
  const std::pair<int64_t, uint32_t> values[] = {
      {0, 0},          {0x7F, 1}, {0x80, 2},   {0x7FFF, 2}, {0x8000, 3},   {0x800000, 4},
      {0xFFFFFFFF, 4}, {-1, 1},   {-128, 1},   {-129, 2},   {-32769, 3},   {-8388609, 4}};
  for (const auto& [value, width] : values) {
    EXPECT_EQ(RunFieldWidth(value >= 0, static_cast<uint32_t>(value)), width) << value;
  }
  const std::pair<int64_t, uint32_t> offsets[] = {
      {0, 1},          {-17, 1},         {0x80, 2},         {-129, 2},          {0x7FFFFFFF, 4},
      {-0x80000000LL, 4}, {0x80000000LL, 5}, {-0x80000001LL, 5}, {-2355088589LL, 5}};
  for (const auto& [offset, width] : offsets) EXPECT_EQ(OffsetFieldWidth(offset), width) << offset;
}

// Each list is encoded run by run, the way a list is extended, and whole;
// both give the same bytes, which decode back to the runs (run by run and
// whole) and summarise to the last cluster, last length and encoded size.
TEST(RunList, ListsSurviveEncodeAndDecode) {
  const std::vector<std::pair<std::vector<ClusterRun>, Bytes>> rows = {
      // Worked by hand: the second offset counts from cluster 107.
      {{{100, 8}, {90, 4}}, {0x11, 0x08, 0x64, 0x11, 0x04, 0xEF, 0x00}},
      {{{0x7F, 3}}, {}},
      {{{0x80, 3}}, {}},
      {{{0x8000, 3}, {0x12345678, 0x80}}, {}},
      {{{2000000, 1}, {1999999, 1}}, {}},                   // offset -1
      {{{100000, 1}, {99871, 2}, {67103, 3}}, {}},          // -129, -32769
      {{{0x900000, 1}, {0x900000 - 0x800001, 0x10000}}, {}},  // -0x800001
      // On a huge volume the third run lies more than 2^31 clusters before
      // the second's end.
      {{{12722, 1610623562}, {1623440674, 1610623562}, {878975646, 5}}, {}},
  };
  for (const auto& [runs, expected] : rows) {
    SCOPED_TRACE(testing::PrintToString(expected) + " " + std::to_string(runs[0].lcn));
    Bytes list(64, 0xCC);
    uint32_t at = 0, previousLast = 0;
    for (const ClusterRun& run : runs) {
      const int64_t offset = static_cast<int64_t>(run.lcn) - previousLast;
      const uint32_t lb = RunFieldWidth(true, run.length), ob = OffsetFieldWidth(offset);
      EncodeRun(list.data() + at, lb, ob, run.length, offset);
      at += 1 + lb + ob;
      previousLast = run.lcn + run.length - 1;
    }
    list.resize(at + 1);  // the terminator EncodeRun put behind the last run
    Bytes whole = EncodeRunList(runs);
    whole.push_back(0);
    EXPECT_EQ(whole, list);
    if (!expected.empty()) {
      EXPECT_EQ(list, expected);
    }

    std::vector<ClusterRun> back;
    ASSERT_TRUE(DecodeRunList(list.data(), static_cast<uint32_t>(list.size()), back));
    ASSERT_EQ(back.size(), runs.size());
    uint32_t pos = 0, p = 0, lcn = 0;
    DecodedRun run;
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(back[i].lcn, runs[i].lcn) << i;
      EXPECT_EQ(back[i].length, runs[i].length) << i;
      ASSERT_EQ(DecodeRun(list.data(), static_cast<uint32_t>(list.size()), pos, run), RunStatus::kRun);
      ASSERT_TRUE(AdvanceRun(run, p, lcn));
      EXPECT_EQ(lcn, runs[i].lcn) << i;
      EXPECT_EQ(p, runs[i].lcn + runs[i].length - 1) << i;
    }
    EXPECT_EQ(DecodeRun(list.data(), static_cast<uint32_t>(list.size()), pos, run), RunStatus::kEnd);
    EXPECT_EQ(pos, at);
    uint32_t last = 0, lastLength = 0, encoded = 0;
    ASSERT_TRUE(RunListSummary(list.data(), static_cast<uint32_t>(list.size()), last, lastLength,
                               encoded));
    EXPECT_EQ(last, runs.back().lcn + runs.back().length - 1);
    EXPECT_EQ(lastLength, runs.back().length);
    EXPECT_EQ(encoded, at);
  }
  const Bytes empty{0x00};
  uint32_t last = 1, lastLength = 1, encoded = 1;
  ASSERT_TRUE(RunListSummary(empty.data(), 1, last, lastLength, encoded));
  EXPECT_EQ(last + lastLength + encoded, 0u);
}

// A damaged run is malformed (each list a heap buffer of exactly its size,
// so an over-read shows under AddressSanitizer); a list without terminator
// or reaching outside 32-bit cluster numbers has no summary; a run may end
// on the last cluster but not go before cluster 0 or past the last.
TEST(RunList, MalformedListsAreRefused) {
  const Bytes runs[] = {
      {0x01, 0x08, 0x00},                                // no offset bytes
      {0x10, 0x08, 0x00},                                // no length bytes
      {0x11},                                            // fields past the end
      {0x44, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00},  // fields past the end
      {0x11, 0x00, 0x05, 0x00},                          // length zero
      {0x15, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00},  // length beyond 32 bits
      {},
  };
  for (const Bytes& list : runs) {
    Bytes exact(list);
    uint32_t pos = 0;
    DecodedRun run;
    EXPECT_EQ(DecodeRun(exact.data(), static_cast<uint32_t>(exact.size()), pos, run),
              RunStatus::kMalformed)
        << testing::PrintToString(list);
  }
  const Bytes lists[] = {
      {0x11, 0x08, 0x64},
      {0x11, 0x08, 0x64, 0x11, 0x04, 0x90, 0x00},  // 107 - 112 < 0
      {0x81, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00},
      {0x11, 0x08, 0x64, 0x81, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00},
  };
  for (const Bytes& list : lists) {
    uint32_t last = 0, lastLength = 0, encoded = 0;
    EXPECT_FALSE(RunListSummary(list.data(), static_cast<uint32_t>(list.size()), last, lastLength,
                                encoded))
        << testing::PrintToString(list);
  }
  const std::tuple<uint32_t, int64_t, bool> advances[] = {
      {1, -1, false}, {2, 0xFFFFFFFFll, false}, {1, 0xFFFFFFFFll, true}};
  for (const auto& [length, offset, ok] : advances) {
    DecodedRun run;
    run.length = length;
    run.offset = offset;
    uint32_t p = 0, lcn = 0;
    ASSERT_EQ(AdvanceRun(run, p, lcn), ok) << offset;
    if (ok) {
      EXPECT_EQ(lcn, 0xFFFFFFFFu);
      EXPECT_EQ(p, 0xFFFFFFFFu);
    }
  }
}

}  // namespace
}  // namespace vrax
