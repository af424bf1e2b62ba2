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

TEST_F(AttachmentTest, AttachFillsTheAttachmentAndMovesPastTheName) {
  DeviceAttachment& a = Fresh();
  const char* path = "/1/dir/file";
  ASSERT_EQ(Attach(path, a), kOk);
  EXPECT_EQ(path_, path + 3);
  EXPECT_EQ(a.device, device_);
  EXPECT_EQ(a.sectorSize, 512u);
  EXPECT_EQ(a.bitmapSlot, &device_->bitmapSlot);
  ASSERT_EQ(device_->attachments.size(), 1u);
  EXPECT_EQ(device_->attachments.begin()->second, "/1/dir/file");  // the whole path
  EXPECT_TRUE(output_.empty());
  for (const char* alone : {"/1", "/1/"}) {
    ASSERT_EQ(Attach(alone, Fresh()), kOk) << alone;
    EXPECT_STREQ(path_, "") << alone;
  }
}

TEST_F(AttachmentTest, RefusalsLeaveThePathAndTheDeviceAlone) {
  DeviceAttachment& a = Fresh();
  const char* path = "/2/x";
  EXPECT_EQ(Attach(path, a), kErrFileNotFound);
  EXPECT_EQ(output_, "Drive /2 not found\n");
  EXPECT_EQ(path_, path);
  EXPECT_EQ(a.device, nullptr);
  EXPECT_EQ(Attach("1/dir", a), -1);
  EXPECT_EQ(output_, "Invalid device name 1/dir\n");
  EXPECT_TRUE(device_->attachments.empty());
  // A second attach of the same record is an internal error.
  ASSERT_EQ(Attach("/1/a", a), kOk);
  EXPECT_EQ(Attach("/1/b", a), -1);
  EXPECT_EQ(output_, "attach device - internal error\n");
  ASSERT_EQ(device_->attachments.size(), 1u);
  EXPECT_EQ(device_->attachments.begin()->second, "/1/a");
  SetCurrentDrive(nullptr);
  EXPECT_EQ(Attach("/1/x", Fresh()), kErrFileNotFound);
  EXPECT_EQ(output_, "Drive /1 not found\n");
}

TEST_F(AttachmentTest, DetachRemovesOnlyItsOwnEntryAndKeepsTheDeviceOpen) {
  DeviceAttachment& a = Fresh();
  DeviceAttachment& b = Fresh();
  ASSERT_EQ(Attach("/1/a", a), kOk);
  ASSERT_EQ(Attach("/1/a", b), kOk);
  DetachDevice(a);
  EXPECT_EQ(a.device, nullptr);
  ASSERT_EQ(device_->attachments.size(), 1u);
  EXPECT_EQ(CountSharers(b, false), 1);
  DetachDevice(a);  // a second detach finds nothing to remove
  DetachDevice(b);
  EXPECT_TRUE(device_->attachments.empty());
  EXPECT_EQ(device_->isOpen, 1);
  std::vector<uint8_t> sector(512);
  EXPECT_EQ(ReadSectors(device_, sector.data(), 0, 1, 512), kOk);
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
  int32_t error = -7;
  EXPECT_EQ(VRAX_FindDrive(nullptr, error), nullptr);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Drive null not found\n"),
            std::string::npos);
  SetCurrentDrive(nullptr);
  EXPECT_GT(found.load(), 0);
}

}  // namespace
}  // namespace vrax
