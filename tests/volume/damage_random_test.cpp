#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "support/sample_volume.h"

namespace vrax {
namespace {

constexpr int kIterations = 300;
constexpr auto kTimeBudget = std::chrono::seconds(20);

class DamageRandomFlips : public test::SampleVolumeTest {};

// Each round flips one to six bytes, reads everything, puts them back.
TEST_F(DamageRandomFlips, FlippedBytesNeverCrashTheReader) {
  const test::BuiltIndex& tree = sample().treeIndex;
  uint32_t lastRecord = sample().listed.second;
  for (const test::IndexName& n : tree.order) lastRecord = std::max(lastRecord, n.record);
  std::vector<std::pair<uint64_t, uint64_t>> targets = {
      {builder().RecordOffset(0), builder().RecordOffset(lastRecord + 1)}};
  for (const test::IndexBlockInfo& block : tree.blocks) {
    const uint64_t start = builder().IndexBlockOffset(tree, block.vcn);
    targets.emplace_back(start, start + geometry().indexBlockSize);
  }
  std::mt19937 random(20240506);
  const auto start = std::chrono::steady_clock::now();
  int failed = 0;
  for (int round = 0; round < kIterations; ++round) {
    if (std::chrono::steady_clock::now() - start > kTimeBudget) break;
    std::vector<std::pair<uint64_t, uint8_t>> saved;
    const int flips = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < flips; ++i) {
      const auto& [from, to] =
          i % 2 == 0 ? targets[0] : targets[1 + random() % (targets.size() - 1)];
      const uint64_t at = from + random() % (to - from);
      saved.emplace_back(at, builder().ReadBytes(at, 1)[0]);
      builder().WriteBytes(at, {static_cast<uint8_t>(saved.back().second ^ (1 + random() % 255))});
    }
    Mount(image_, false);
    if (ReadAllResult() != 0) ++failed;
    Unmount();
    for (auto it = saved.rbegin(); it != saved.rend(); ++it)
      builder().WriteBytes(it->first, {it->second});
  }
  EXPECT_GT(failed, 0);  // the damage was seen at all
}

}  // namespace
}  // namespace vrax
