#include "blockdev/block_device.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/error_codes.h"

namespace vrax {
namespace {

using test::PatternBytes;

class CreateDeviceTest : public DeviceTest {};

TEST_F(CreateDeviceTest, OpensTheImageAndPrintsItsNameAndGeometry) {
  g_debug = 1;
  BlockDevice* device = Open("/7", true);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(output_, "Attempt to open <7>\n          Disk Name: " + image_ + " \n" +
                         "   Bytes Per Sector: 512\n"
                         "      Total Sectors: 00000000:00000010\n"
                         "        Total Bytes: 00000000:00002000 [0 GB]\n"
                         "We have a valid handle to the device\n"
                         "Sector Size of Device is 512\n");
  EXPECT_EQ(device->isOpen, 1);
  EXPECT_EQ(device->driveNumber, 7);
  EXPECT_EQ(device->writable, 1);
  g_debug = 0;
  // Read-only opens say so; an odd-sized image counts whole sectors; the
  // name is cut to 31 characters.
  const std::string longName = "/" + std::string(40, '5');
  int32_t error = -7;
  device = Create(longName.c_str(), false, error, test::MakeImage(dir_, "odd.img", 1000));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(output_, "          Disk Name: " + dir_.File("odd.img") + " - Read Only\n" +
                         "   Bytes Per Sector: 512\n"
                         "      Total Sectors: 00000000:00000001\n"
                         "        Total Bytes: 00000000:000003E8 [0 GB]\n");
  EXPECT_EQ(device->writable, 0);
  EXPECT_EQ(std::string(device->name), longName.substr(0, 31));
}

TEST_F(CreateDeviceTest, MissingDiskFailsWithTheHostError) {
  int32_t error = -7;
  const std::string missing = dir_.File("missing.img");
  EXPECT_EQ(Create("/1", true, error, missing), nullptr);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_EQ(output_, missing + " - Could not open drive - (error:2)\n");
}

TEST_F(CreateDeviceTest, WithoutAnImageTheDriveNumberNamesTheHostDisk) {
  int32_t error = -7;
  ::testing::internal::CaptureStderr();
  BlockDevice* device = CreateDevice("/250", false, error);
  output_ = ::testing::internal::GetCapturedStderr();
  if (device != nullptr) devices_.push_back(device);
  struct stat st {};
  if (stat("/dev/sdiq", &st) == 0) GTEST_SKIP() << "this machine has a disk /dev/sdiq";
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_EQ(output_, "/dev/sdiq - Could not open drive - (error:2)\n");
}

TEST_F(CreateDeviceTest, SomethingWithoutGeometryIsRefusedAndClosed) {
  int32_t error = -7;
  EXPECT_EQ(Create("/1", false, error, "/dev/null"), nullptr);
  EXPECT_EQ(error, kErrInvalidFunction);
  EXPECT_EQ(output_,
            "          Disk Name: /dev/null - Read Only\n"
            "Failed to read geometry info error:1\n");
  EXPECT_EQ(Create("/1", true, error, "/dev/null"), nullptr);
  EXPECT_EQ(error, kErrInvalidFunction) << "the failed open must not keep its lock";
}

class DeviceLocking : public DeviceTest {};

TEST_F(DeviceLocking, WritersAreAloneReadersShareAndDeletingReleases) {
  BlockDevice* writer = Open("/1", true);
  ASSERT_NE(writer, nullptr);
  int32_t error = -7;
  EXPECT_EQ(Create("/1", true, error), nullptr);
  EXPECT_EQ(error, kErrSharingViolation);
  EXPECT_EQ(output_, image_ + " - Could not open drive - (error:32)\n");
  EXPECT_EQ(Create("/1", false, error), nullptr);
  EXPECT_EQ(error, kErrSharingViolation);
  Forget(writer);
  DeleteDevice(writer);
  BlockDevice* reader1 = Open("/1", false);
  BlockDevice* reader2 = Open("/1", false);
  ASSERT_NE(reader2, nullptr);
  EXPECT_EQ(Create("/1", true, error), nullptr);
  EXPECT_EQ(error, kErrSharingViolation);
  Forget(reader1);
  Forget(reader2);
  DeleteDevice(reader1);
  DeleteDevice(reader2);
  EXPECT_NE(Open("/1", true), nullptr);
}

TEST_F(DeviceLocking, ReopeningADeviceReplacesItsOwnHandle) {
  BlockDevice* device = Open("/1", true);
  ASSERT_NE(device, nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(DeviceOpen(*device, true), kOk);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(device->isOpen, 1);
}

class DeviceTransfer : public DeviceTest {};

TEST_F(DeviceTransfer, SectorsLandWhereTheyBelong) {
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

TEST_F(DeviceTransfer, SectorOffsetsAreSixtyFourBit) {
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
  const std::vector<uint8_t> data = PatternBytes(kSector, 9);
  const uint32_t beyond4GiB = (1u << 23) + 1;  // x 512 = 4 GiB + 512
  ASSERT_EQ(WriteSectors(device, data.data(), beyond4GiB, 1, kSector), kOk);
  EXPECT_EQ(test::FileSize(image_), (uint64_t{1} << 32) + 2 * kSector);
  std::vector<uint8_t> back(kSector);
  ASSERT_EQ(ReadSectors(device, back.data(), beyond4GiB, 1, kSector), kOk);
  EXPECT_EQ(back, data);
  ASSERT_EQ(ReadSectors(device, back.data(), 1, 1, kSector), kOk);
  const std::vector<uint8_t> original = PatternBytes(2 * kSector);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), original.begin() + kSector));
}

TEST_F(DeviceTransfer, ReadOnlyDeviceRefusesWritesAndLeavesTheDiskAlone) {
  BlockDevice* device = Open("/1", false);
  ASSERT_NE(device, nullptr);
  const std::vector<uint8_t> before = ImageBytes();
  const std::vector<uint8_t> data(kSector, 0xAB);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(WriteSectors(device, data.data(), 0, 1, kSector), -1);
  EXPECT_EQ(DeviceWrite(*device, data.data(), 10, 5), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Write disabled, read only\nWrite disabled, read only\n");
  EXPECT_EQ(ImageBytes(), before);
}

TEST_F(DeviceTransfer, ShortReadFailsWithMinusOneAndTheDeviceStaysUsable) {
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> buffer(2 * kSector);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadSectors(device, buffer.data(), kSectors - 1, 2, kSector), -1);
  EXPECT_EQ(ReadSectors(device, buffer.data(), kSectors + 5, 1, kSector), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Read error -1\nRead error -1\n");
  EXPECT_EQ(ReadSectors(device, buffer.data(), 0, 2, kSector), kOk);
}

// A byte count beyond 32 bits is refused, not shortened; a position
// beyond reach is a seek error; null and closed devices are refused.
TEST_F(DeviceTransfer, ImpossibleTransfersAreRefused) {
  BlockDevice* device = Open();
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> buffer(kSector, 0x11);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadSectors(device, buffer.data(), 0, 1u << 23, kSector), kErrInvalidParameter);
  EXPECT_EQ(WriteSectors(device, buffer.data(), 0, 1u << 23, kSector), kErrInvalidParameter);
  EXPECT_EQ(DeviceRead(*device, buffer.data(), kSector, ~uint64_t{0} - 100), kErrInvalidParameter);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Read error 87\nWrite error 87\nSeek error 87\n");
  EXPECT_EQ(buffer, std::vector<uint8_t>(kSector, 0x11));
  EXPECT_EQ(ImageBytes(), PatternBytes(kSectors * kSector));
  EXPECT_EQ(ReadSectors(nullptr, buffer.data(), 0, 1, kSector), kErrAccessDenied);
  EXPECT_EQ(WriteSectors(nullptr, buffer.data(), 0, 1, kSector), kErrAccessDenied);
  DeviceClose(*device);
  EXPECT_EQ(device->isOpen, 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ReadSectors(device, buffer.data(), 0, 1, kSector), kErrInvalidHandle);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Read error 6\n");
}

TEST_F(DeviceTransfer, UnbufferedDeviceTakesUnalignedBuffers) {
  test::TempDir realDir("/var/tmp");
  const std::string image = test::MakeImage(realDir, "disk.img", kSectors * kSector);
  g_noBuffering = 1;
  int32_t error = -7;
  BlockDevice* device = Create("/1", true, error, image);
  ASSERT_NE(device, nullptr) << output_;
  if (!device->handle.direct) {
    EXPECT_NE(output_.find("Unbuffered I/O not supported"), std::string::npos);
  }
  std::vector<uint8_t> storage(3 * kSector + 1);
  const std::vector<uint8_t> data = PatternBytes(3 * kSector, 5);
  std::copy(data.begin(), data.end(), storage.begin() + 1);
  ASSERT_EQ(WriteSectors(device, storage.data() + 1, 5, 3, kSector), kOk);
  std::fill(storage.begin(), storage.end(), 0);
  ASSERT_EQ(ReadSectors(device, storage.data() + 1, 5, 3, kSector), kOk);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), storage.begin() + 1));
  std::vector<uint8_t> expected = PatternBytes(kSectors * kSector);
  std::copy(data.begin(), data.end(), expected.begin() + 5 * kSector);
  EXPECT_EQ(test::ReadFileBytes(image), expected);
}

class DeleteDeviceTest : public DeviceTest {};

TEST_F(DeleteDeviceTest, WarnsAboutAnInstalledBitmapAndForgetsOnlyItsOwnDrive) {
  BlockDevice* device = Open("/1", false);
  BlockDevice* other = Open("/2", false);
  ASSERT_NE(other, nullptr);
  Forget(device);
  Forget(other);
  SetCurrentDrive(device);
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
