// Transfers of many threads on one device: each seek-and-transfer unit runs
// alone, so no thread ever sees another's data in its own sectors.
#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "platform/error_codes.h"

namespace vrax {
namespace {

class ConcurrentTransfer : public DeviceTest {};

void Hammer(BlockDevice* device, uint32_t sector, uint8_t seed, int rounds, int& mismatches) {
  std::vector<uint8_t> data(2 * 512);
  std::vector<uint8_t> back(2 * 512);
  for (int r = 0; r < rounds; ++r) {
    std::fill(data.begin(), data.end(), static_cast<uint8_t>(seed + r));
    if (WriteSectors(device, data.data(), sector, 2, 512) != kOk) ++mismatches;
    if (ReadSectors(device, back.data(), sector, 2, 512) != kOk || back != data) ++mismatches;
  }
}

TEST_F(ConcurrentTransfer, ThreadsNeverSeeEachOthersData) {
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(Hammer, device, static_cast<uint32_t>(2 * t),
                         static_cast<uint8_t>(40 * t), 50, std::ref(mismatches[t]));
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
  const std::vector<uint8_t> image = ImageBytes();
  for (int t = 0; t < kThreads; ++t) {
    const uint8_t last = static_cast<uint8_t>(40 * t + 49);
    for (size_t i = 0; i < 1024; ++i) ASSERT_EQ(image[2 * t * 512 + i], last) << t;
  }
}

}  // namespace
}  // namespace vrax
