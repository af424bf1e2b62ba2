#include "blockdev/block_device.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "blockdev/attachment.h"
#include "blockdev/disk_report.h"
#include "device_fixture.h"
#include "platform/error_codes.h"

namespace vrax {
namespace {

using test::PatternBytes;

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
  const std::string name = "          Disk Name: " + dir_.File("odd.img") + " - Read Only\n";
  const std::string fallback = "Unbuffered I/O not supported for " + dir_.File("odd.img") +
                               "; using write-through\n";
  EXPECT_EQ(output_, (device->handle.direct ? name : fallback + name) +
                         "   Bytes Per Sector: 512\n"
                         "      Total Sectors: 00000000:00000001\n"
                         "        Total Bytes: 00000000:000003E8 [0 GB]\n");
  EXPECT_EQ(device->writable, 0);
  EXPECT_EQ(std::string(device->name), longName.substr(0, 31));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(DeviceOpen(*device, false), kOk);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(device->isOpen, 1);
}

// A failed open gives the host's error and keeps no lock: the image is
// held by a writer, and /dev/null has no geometry.
TEST_F(DeviceTest, FailedOpensGiveTheHostError) {
  ASSERT_NE(Open("/1", true), nullptr);
  const std::string missing = dir_.File("missing.img");
  const std::string busy = image_ + " - Could not open drive - (error:32)\n";
  const std::string noGeometry = "Failed to read geometry info error:1\n";
  const struct {
    std::string path;
    bool writable;
    int32_t error;
    std::string output;
  } cases[] = {
      {missing, true, kErrFileNotFound, missing + " - Could not open drive - (error:2)\n"},
      {image_, true, kErrSharingViolation, busy},
      {"/dev/null", false, kErrInvalidFunction,
       "          Disk Name: /dev/null - Read Only\n" + noGeometry},
  };
  for (const auto& c : cases) {
    int32_t error = -7;
    EXPECT_EQ(Create("/1", c.writable, error, c.path), nullptr) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(output_, c.output);
  }
}

TEST_F(DeviceTest, SectorsLandWhereTheyBelong) {
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
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
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
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
  BlockDevice* device = Open("/1", false);
  BlockDevice* other = Open("/2", false);
  ASSERT_NE(other, nullptr);
  Forget(device);
  Forget(other);
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
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([device, t, &mismatches] {
      std::vector<uint8_t> data(2 * kSector), back(2 * kSector);
      for (int r = 0; r < 50; ++r) {
        std::fill(data.begin(), data.end(), static_cast<uint8_t>(40 * t + r));
        if (WriteSectors(device, data.data(), 2 * t, 2, kSector) != kOk) ++mismatches;
        if (ReadSectors(device, back.data(), 2 * t, 2, kSector) != kOk || back != data) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  const std::vector<uint8_t> image = ImageBytes();
  for (size_t i = 0; i < 8 * kSector; ++i) ASSERT_EQ(image[i], 40 * (i / 1024) + 49) << i;
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
    if (c.rest == nullptr) {
      EXPECT_EQ(rest, nullptr);
      continue;
    }
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rest, c.path + std::strlen(c.path) - std::strlen(c.rest));  // points into the path
    EXPECT_STREQ(rest, c.rest);
  }
}

// Drive numbers come from the digits after the first character and name
// host disks the way Linux does; the report lines keep both halves, round
// gibibytes down, and a zero sector size is printed, not divided by.
TEST(DeviceNames, DriveNumbersHostDisksAndReportLines) {
  EXPECT_EQ(DriveNumberFromName("/012abc"), 12);
  EXPECT_EQ(DriveNumberFromName("/-5"), 0);
  EXPECT_EQ(DriveNumberFromName(nullptr), 0);
  EXPECT_EQ(DriveNumberFromName("/99999999999999999999"), INT32_MAX);
  EXPECT_EQ(HostDiskPathForDrive(25), "/dev/sdz");
  EXPECT_EQ(HostDiskPathForDrive(702), "/dev/sdaaa");
  EXPECT_EQ(HostDiskPathForDrive(-1), "");
  EXPECT_EQ(TotalBytesLine(1'000'204'886'016ull),
            "        Total Bytes: 000000E8:E0DB6000 [931 GB]\n");
  ::testing::internal::CaptureStderr();
  PrintGeometry(0, 1000);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("Total Sectors: 00000000:00000000\n"),
            std::string::npos);
}

}  // namespace
}  // namespace vrax
