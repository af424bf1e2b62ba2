#include "blockdev/device_faults.h"

#include <atomic>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "platform/error_codes.h"

namespace vrax {
namespace {

using test::PatternBytes;

class DeviceFaultsTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    device_ = Open("/1", true);
    ASSERT_NE(device_, nullptr);
  }

  int32_t WriteSector(uint32_t sector, uint8_t fill) {
    const std::vector<uint8_t> data(kSector, fill);
    return WriteSectors(device_, data.data(), sector, 1, kSector);
  }

  BlockDevice* device_ = nullptr;
};

// A one-shot write fault fails the chosen write alone without touching the
// disk; a sticky read fault fails every read, delivering nothing, until
// disarmed.
TEST_F(DeviceFaultsTest, FaultsFailTheChosenTransfersWithoutMovingData) {
  ArmDeviceFault(*device_, FaultedTransfer::kWrite, 1, kErrHandleDiskFull);
  EXPECT_EQ(WriteSector(1, 0xA1), kOk);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WriteSector(2, 0xA2), kErrHandleDiskFull);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Write error 39\n");
  EXPECT_EQ(WriteSector(3, 0xA3), kOk);
  const std::vector<uint8_t> image = ImageBytes();
  EXPECT_EQ(image[2 * kSector], PatternBytes(kSectors * kSector)[2 * kSector]);
  EXPECT_EQ(image[3 * kSector], 0xA3);
  ArmDeviceFault(*device_, FaultedTransfer::kRead, 0, kErrIoDevice, true);
  std::vector<uint8_t> buffer(kSector, 0x5A);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ReadSectors(device_, buffer.data(), 1, 1, kSector), kErrIoDevice);
  }
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(buffer, std::vector<uint8_t>(kSector, 0x5A));
  DisarmDeviceFaults(*device_);
  EXPECT_EQ(ReadSectors(device_, buffer.data(), 1, 1, kSector), kOk);
  EXPECT_EQ(buffer[0], 0xA1);
}

// A test may arm a fault while transfers run on other threads; exactly one
// transfer takes a one-shot fault.
TEST_F(DeviceFaultsTest, ArmingWhileOtherThreadsTransfer) {
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  ::testing::internal::CaptureStderr();
  std::vector<std::thread> writers;
  for (uint32_t t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      const std::vector<uint8_t> data(kSector, static_cast<uint8_t>(t));
      while (!stop.load()) {
        if (WriteSectors(device_, data.data(), t, 1, kSector) != kOk) failures.fetch_add(1);
      }
    });
  }
  ArmDeviceFault(*device_, FaultedTransfer::kWrite, 5, kErrIoDevice);
  while (device_->faults.write.countdown.load() != -1) std::this_thread::yield();
  stop.store(true);
  for (auto& w : writers) w.join();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Write error 1117\n");
  EXPECT_EQ(failures.load(), 1);
}

}  // namespace
}  // namespace vrax
