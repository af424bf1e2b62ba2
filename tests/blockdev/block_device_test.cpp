#include "blockdev/block_device.h"

#include <algorithm>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace vrax
