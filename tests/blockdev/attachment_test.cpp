#include "blockdev/attachment.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "platform/error_codes.h"

namespace vrax {
namespace {

class AttachmentTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    device_ = Open("/1", true);
    ASSERT_NE(device_, nullptr);
    SetCurrentDrive(device_);
  }

  void TearDown() override {
    for (DeviceAttachment& a : pool_) DetachDevice(a);
    DeviceTest::TearDown();
  }

  // An attachment that outlives the test body, so TearDown can detach it.
  DeviceAttachment& Fresh() { return pool_.emplace_back(); }

  // Attaches `a` for `path`; returns the result and keeps the rest and the
  // output for inspection.
  int32_t Attach(const char* path, DeviceAttachment& a) {
    path_ = path;
    ::testing::internal::CaptureStderr();
    const int32_t result = AttachDevice(path_, a);
    output_ = ::testing::internal::GetCapturedStderr();
    return result;
  }

  BlockDevice* device_ = nullptr;
  const char* path_ = nullptr;
  std::deque<DeviceAttachment> pool_;
};

// Attaching moves the path past the drive name and registers the whole
// path on the device; refusals leave the path and the device alone; detach
// removes only its own entry and keeps the device open.
TEST_F(AttachmentTest, AttachAndDetach) {
  DeviceAttachment& a = Fresh();
  DeviceAttachment& b = Fresh();
  const char* path = "/2/x";
  EXPECT_EQ(Attach(path, a), kErrFileNotFound);
  EXPECT_EQ(output_, "Drive /2 not found\n");
  EXPECT_EQ(path_, path);
  EXPECT_EQ(a.device, nullptr);
  path = "/1/dir/file";
  ASSERT_EQ(Attach(path, a), kOk);
  EXPECT_EQ(path_, path + 3);
  EXPECT_EQ(a.device, device_);
  EXPECT_EQ(a.bitmapSlot, &device_->bitmapSlot);
  EXPECT_TRUE(output_.empty());
  EXPECT_EQ(Attach("/1/b", a), -1);  // a second attach of the same record
  EXPECT_EQ(output_, "attach device - internal error\n");
  ASSERT_EQ(device_->attachments.size(), 1u);
  EXPECT_EQ(device_->attachments.begin()->second, "/1/dir/file");
  ASSERT_EQ(Attach("/1/", b), kOk);
  EXPECT_STREQ(path_, "");
  DetachDevice(a);
  EXPECT_EQ(a.device, nullptr);
  ASSERT_EQ(device_->attachments.size(), 1u);
  DetachDevice(b);
  EXPECT_TRUE(device_->attachments.empty());
  std::vector<uint8_t> sector(512);
  EXPECT_EQ(ReadSectors(device_, sector.data(), 0, 1, 512), kOk);
  SetCurrentDrive(nullptr);
  EXPECT_EQ(Attach("/1/x", Fresh()), kErrFileNotFound);
}

// Sharers have the same path in any letter case; with the prefix flag a
// directory counts everything open below it.
TEST_F(AttachmentTest, CountingSharers) {
  DeviceAttachment& dir = Fresh();
  DeviceAttachment& same = Fresh();
  DeviceAttachment& file = Fresh();
  DeviceAttachment& sibling = Fresh();
  ASSERT_EQ(Attach("/1/dir", dir), kOk);
  ASSERT_EQ(Attach("/1/DIR", same), kOk);
  ASSERT_EQ(Attach("/1/Dir/f", file), kOk);
  ASSERT_EQ(Attach("/1/dirt/x", sibling), kOk);  // a longer name is not below /1/dir
  EXPECT_EQ(CountSharers(dir, false), 2);
  EXPECT_EQ(CountSharers(dir, true), 3);
  EXPECT_EQ(CountSharers(file, true), 1);
  DeviceAttachment& never = Fresh();
  EXPECT_EQ(CountSharers(never, true), 0);
  never.device = device_;  // points at the device but was never registered
  EXPECT_EQ(CountSharers(never, true), 0);
}

// Lookups run on every FTP thread while mount and unmount switch the drive.
TEST(DriveTable, LookupsRaceFreeWithMountAndUnmount) {
  BlockDevice drive;
  std::strcpy(drive.name, "/1");
  std::atomic<bool> stop{false};
  std::atomic<int> found{0};
  ::testing::internal::CaptureStderr();
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        int32_t error = 0;
        if (VRAX_FindDrive("/1", error) == &drive) found.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 2000; ++i) SetCurrentDrive(i % 2 == 0 ? &drive : nullptr);
  SetCurrentDrive(&drive);
  while (found.load() == 0) std::this_thread::yield();
  stop.store(true);
  for (auto& t : readers) t.join();
  ::testing::internal::GetCapturedStderr();
  SetCurrentDrive(nullptr);
  EXPECT_GT(found.load(), 0);
}

}  // namespace
}  // namespace vrax
