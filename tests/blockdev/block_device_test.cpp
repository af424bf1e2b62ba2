// Block devices on image files: opening, transfers, refusals, injected
// faults, threads, device names, and attachments of paths to a device.
#include "blockdev/block_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "blockdev/attachment.h"
#include "blockdev/device_faults.h"
#include "blockdev/disk_report.h"
#include "blockdev/drive_table.h"
#include "platform/error_codes.h"
#include "platform/settings.h"
#include "support/temp_file.h"

namespace vrax {
namespace {

using test::PatternBytes;

// A temporary image with a writable device "/1" on it, settings restored
// after each test, and devices that are always deleted.
class DeviceTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kSector = 512;
  static constexpr uint32_t kSectors = 16;

  void SetUp() override {
    image_ = test::MakeImage(dir_, "disk.img", kSectors * kSector);
    ASSERT_NE(device_ = Open(), nullptr);
  }

  void TearDown() override {
    SetCurrentDrive(nullptr);
    for (BlockDevice* device : devices_) DeleteDevice(device);
    g_noBuffering = savedNoBuffering_;
  }

  // Creates a device on `path` (the test image by default), keeping what it
  // printed in `output_`; the fixture deletes it.
  BlockDevice* Create(const char* name, bool writable, int32_t& error,
                      const std::string& path = std::string()) {
    ::testing::internal::CaptureStderr();
    BlockDevice* device = CreateDevice(name, writable, error, path.empty() ? image_ : path);
    output_ = ::testing::internal::GetCapturedStderr();
    if (device != nullptr) devices_.push_back(device);
    return device;
  }

  BlockDevice* Open(const char* name = "/1", bool writable = true) {
    int32_t error = -7;
    BlockDevice* device = Create(name, writable, error);
    EXPECT_NE(device, nullptr) << output_;
    EXPECT_EQ(error, 0);
    return device;
  }

  std::vector<uint8_t> ImageBytes() const { return test::ReadFileBytes(image_); }

  test::TempDir dir_;
  std::string image_;
  std::string output_;
  std::vector<BlockDevice*> devices_;
  BlockDevice* device_ = nullptr;
  int savedNoBuffering_ = g_noBuffering;
};

// The open prints the image's name and geometry: read-only opens say so,
// an odd-sized image counts whole sectors, the name is cut to 31
// characters, and the unbuffered switch reaches the disk. Reopening
// replaces the device's own handle (its lock is no conflict).
TEST_F(DeviceTest, OpensTheImageAndPrintsItsNameAndGeometry) {
  const std::string longName = "/7" + std::string(40, '5');
  g_noBuffering = 1;
  int32_t error = -7;
  BlockDevice* device =
      Create(longName.c_str(), false, error, test::MakeImage(dir_, "odd.img", 1000));
  ASSERT_NE(device, nullptr);
  EXPECT_NE(output_.find(dir_.File("odd.img") + " - Read Only\n   Bytes Per Sector: 512\n"
                         "      Total Sectors: 00000000:00000001\n"),
            std::string::npos)
      << output_;
  EXPECT_EQ(std::string(device->name), longName.substr(0, 31));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(DeviceOpen(*device, false), kOk);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(device->isOpen, 1);
}

// A failed open gives the host's error and keeps no lock: the image is
// missing, or /dev/null has no geometry. (Lock conflicts: host disk tests.)
TEST_F(DeviceTest, FailedOpensGiveTheHostError) {
  const std::string missing = dir_.File("missing.img");
  int32_t error = -7;
  EXPECT_EQ(Create("/1", true, error, missing), nullptr);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_EQ(output_, missing + " - Could not open drive - (error:2)\n");
  EXPECT_EQ(Create("/1", false, error, "/dev/null"), nullptr);
  EXPECT_EQ(error, kErrInvalidFunction);
  EXPECT_EQ(output_, "          Disk Name: /dev/null - Read Only\n"
                     "Failed to read geometry info error:1\n");
}

TEST_F(DeviceTest, SectorsLandWhereTheyBelong) {
  BlockDevice* device = device_;
  const std::vector<uint8_t> data = PatternBytes(2 * kSector, 42);
  ASSERT_EQ(WriteSectors(device, data.data(), 3, 2, kSector), kOk);
  std::vector<uint8_t> expected = PatternBytes(kSectors * kSector);
  std::copy(data.begin(), data.end(), expected.begin() + 3 * kSector);
  EXPECT_EQ(ImageBytes(), expected);
  std::vector<uint8_t> back(2 * kSector);
  ASSERT_EQ(ReadSectors(device, back.data(), 3, 2, kSector), kOk);
  EXPECT_EQ(back, data);
  // The volume's own sector size may differ from the disk's.
  std::vector<uint8_t> big(1024);
  ASSERT_EQ(ReadSectors(device, big.data(), 1, 1, 1024), kOk);
  EXPECT_TRUE(std::equal(big.begin(), big.end(), expected.begin() + 1024));
}

// Short reads, byte counts beyond 32 bits (refused, not shortened),
// positions beyond reach, null and closed devices: each fails with its
// error and line, moves no byte, and leaves the device usable.
TEST_F(DeviceTest, ImpossibleTransfersAreRefused) {
  BlockDevice* device = device_;
  std::vector<uint8_t> buffer(2 * kSector, 0x11);
  std::vector<uint8_t> scratch(2 * kSector);  // short reads may fill part of it
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadSectors(device, scratch.data(), kSectors - 1, 2, kSector), -1);
  EXPECT_EQ(ReadSectors(device, buffer.data(), 0, 1u << 23, kSector), kErrInvalidParameter);
  EXPECT_EQ(WriteSectors(device, buffer.data(), 0, 1u << 23, kSector), kErrInvalidParameter);
  EXPECT_EQ(DeviceRead(*device, buffer.data(), kSector, ~uint64_t{0} - 100),
            kErrInvalidParameter);
  EXPECT_EQ(ReadSectors(nullptr, buffer.data(), 0, 1, kSector), kErrAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Read error -1\nRead error 87\nWrite error 87\nSeek error 87\n");
  EXPECT_EQ(buffer, std::vector<uint8_t>(2 * kSector, 0x11));
  EXPECT_EQ(ImageBytes(), PatternBytes(kSectors * kSector));
  EXPECT_EQ(ReadSectors(device, scratch.data(), 0, 2, kSector), kOk);
  DeviceClose(*device);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadSectors(device, buffer.data(), 0, 1, kSector), kErrInvalidHandle);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Read error 6\n");
}

// A read-only device refuses writes; deleting one warns about an installed
// bitmap and forgets only its own drive.
TEST_F(DeviceTest, ReadOnlyDevicesRefuseWritesAndDeleteForgetsOnlyTheirDrive) {
  devices_.clear();
  DeleteDevice(device_);
  BlockDevice* device = Open("/1", false);
  BlockDevice* other = Open("/2", false);
  ASSERT_NE(other, nullptr);
  devices_.clear();
  SetCurrentDrive(device);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WriteSectors(device, ImageBytes().data(), 0, 1, kSector), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Write disabled, read only\n");
  ::testing::internal::CaptureStderr();
  DeleteDevice(other);
  DeleteDevice(nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(CurrentDrive(), device);
  device->bitmapSlot = reinterpret_cast<BitmapCache*>(device);  // any non-null cache
  ::testing::internal::CaptureStderr();
  DeleteDevice(device);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WARNING /1 bitmap still installed\n");
  EXPECT_EQ(CurrentDrive(), nullptr);
  EXPECT_NE(Open("/1", true), nullptr) << "deleting closed the disk";
}

// Each seek-and-transfer unit runs alone, so no thread ever sees another
// thread's data in its own sectors.
TEST_F(DeviceTest, ThreadsNeverSeeEachOthersData) {
  BlockDevice* device = device_;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([device, t, &mismatches] {
      std::vector<uint8_t> data(2 * kSector), back(2 * kSector);
      for (int r = 0; r < 50; ++r) {
        std::fill(data.begin(), data.end(), static_cast<uint8_t>(40 * t + r));
        if (WriteSectors(device, data.data(), 2 * t, 2, kSector) != kOk) ++mismatches;
        if (ReadSectors(device, back.data(), 2 * t, 2, kSector) != kOk) ++mismatches;
        if (back != data) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  const std::vector<uint8_t> image = ImageBytes();
  for (size_t i = 0; i < 8 * kSector; ++i) ASSERT_EQ(image[i], 40 * (i / 1024) + 49) << i;
}

// A one-shot write fault fails the chosen write alone without touching the
// disk; a sticky read fault fails every read, delivering nothing, until
// disarmed.
TEST_F(DeviceTest, FaultsFailTheChosenTransfersWithoutMovingData) {
  BlockDevice* device = device_;
  ArmDeviceFault(*device, FaultedTransfer::kWrite, 1, kErrHandleDiskFull);
  std::vector<uint8_t> sector(kSector, 0xA1);
  EXPECT_EQ(WriteSectors(device, sector.data(), 1, 1, kSector), kOk);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WriteSectors(device, sector.data(), 2, 1, kSector), kErrHandleDiskFull);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Write error 39\n");
  EXPECT_EQ(WriteSectors(device, sector.data(), 3, 1, kSector), kOk);
  const std::vector<uint8_t> image = ImageBytes();
  EXPECT_EQ(image[2 * kSector], PatternBytes(kSectors * kSector)[2 * kSector]);
  EXPECT_EQ(image[3 * kSector], 0xA1);
  ArmDeviceFault(*device, FaultedTransfer::kRead, 0, kErrIoDevice, true);
  std::vector<uint8_t> buffer(kSector, 0x5A);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ReadSectors(device, buffer.data(), 1, 1, kSector), kErrIoDevice);
  }
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(buffer, std::vector<uint8_t>(kSector, 0x5A));
  DisarmDeviceFaults(*device);
  EXPECT_EQ(ReadSectors(device, buffer.data(), 1, 1, kSector), kOk);
  EXPECT_EQ(buffer, sector);
}

// Power loss: writes after the crash are dropped; relaxed writes since the
// last barrier are undone, all but the last when the crash comes during a
// write, all of them when the power is cut after the last write.
TEST_F(DeviceTest, CrashesLoseUnsyncedRelaxedWrites) {
  const auto slice = [](const std::vector<uint8_t>& image, uint32_t n) {
    return std::vector<uint8_t>(image.begin() + n * kSector, image.begin() + (n + 1) * kSector);
  };
  const std::vector<uint8_t> before = ImageBytes();
  const auto sector = [&](uint32_t n) { return slice(ImageBytes(), n); };
  const auto old = [&](uint32_t n) { return slice(before, n); };
  const std::vector<uint8_t> a(kSector, 0xA1), b(kSector, 0xB2);
  ArmDeviceCrash(*device_, 3);
  EXPECT_EQ(WriteSectors(device_, a.data(), 1, 1, kSector, true), kOk);
  EXPECT_EQ(DeviceBarrier(*device_), kOk);
  EXPECT_EQ(WriteSectors(device_, a.data(), 2, 1, kSector, true), kOk);
  EXPECT_EQ(WriteSectors(device_, a.data(), 3, 1, kSector, true), kOk);
  EXPECT_EQ(WriteSectors(device_, b.data(), 4, 1, kSector, true), kOk);  // the crash: dropped
  EXPECT_EQ(sector(1), a) << "made durable by the barrier";
  EXPECT_EQ(sector(2), old(2)) << "undone";
  EXPECT_EQ(sector(3), a) << "the last relaxed write may land";
  EXPECT_EQ(sector(4), old(4)) << "written after the crash";
  ArmDeviceCrash(*device_, 10);
  EXPECT_EQ(WriteSectors(device_, b.data(), 5, 1, kSector, true), kOk);
  CutPower(*device_);
  EXPECT_EQ(sector(5), old(5));
  EXPECT_EQ(WriteSectors(device_, b.data(), 6, 1, kSector), kOk);
  EXPECT_EQ(sector(6), old(6)) << "written after the power cut";
  DisarmDeviceFaults(*device_);
}

// The device name is the leading "/" and up to 30 more characters before
// the next slash; the rest follows that one slash. Anything else is
// refused with a line showing at most 64 characters of the path.
TEST(ParseDeviceName, SplitsTheDeviceFromTheRestOrRefuses) {
  const std::string longest = "/" + std::string(30, 'a');
  const std::string longestPath = longest + "/f";
  const std::string tooLong = "/" + std::string(31, 'a');
  const std::string huge = "/" + std::string(100, 'b');
  const struct {
    const char* path;
    std::string name;
    const char* rest;  // null when refused
    std::string output;
  } cases[] = {
      {"/1/dir/file", "/1", "dir/file", ""},
      {"/1/", "/1", "", ""},
      {"/1//x", "/1", "/x", ""},
      {longestPath.c_str(), longest, "f", ""},
      {nullptr, "", nullptr, "Invalid device name null\n"},
      {tooLong.c_str(), "", nullptr, "Invalid device name " + tooLong + "\n"},
      {huge.c_str(), "", nullptr, "Invalid device name " + huge.substr(0, 64) + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path != nullptr ? c.path : "null");
    char name[kDeviceNameSize];
    std::memset(name, 'x', sizeof name);
    ::testing::internal::CaptureStderr();
    const char* rest = ParseDeviceName(c.path, name);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.output);
    EXPECT_EQ(std::string(name), c.name);
    // The rest points into the path.
    EXPECT_EQ(rest,
              c.rest == nullptr ? nullptr : c.path + std::strlen(c.path) - std::strlen(c.rest));
  }
}

// Drive numbers come from the digits after the first character and name
// host disks the way Linux does; a zero sector size is printed, not
// divided by.
TEST(DeviceNames, DriveNumbersHostDisksAndReportLines) {
  EXPECT_EQ(DriveNumberFromName("/012abc"), 12);
  EXPECT_EQ(DriveNumberFromName("/-5"), 0);
  EXPECT_EQ(DriveNumberFromName(nullptr), 0);
  EXPECT_EQ(DriveNumberFromName("/99999999999999999999"), INT32_MAX);
  EXPECT_EQ(HostDiskPathForDrive(25), "/dev/sdz");
  EXPECT_EQ(HostDiskPathForDrive(702), "/dev/sdaaa");
  EXPECT_EQ(HostDiskPathForDrive(-1), "");
  ::testing::internal::CaptureStderr();
  PrintGeometry(0, 1000);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Total Sectors: 00000000:00000000\n"),
            std::string::npos);
}

class AttachmentTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
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
  never.device = device_;  // points at the device but was never registered
  EXPECT_EQ(CountSharers(never, true), 0);
}

}  // namespace
}  // namespace vrax
