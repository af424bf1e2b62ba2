// The mounted state kept between calls must never answer for a disk that
// has changed since: each call sees every change made before it.
#include <string>
#include <vector>

#include "blockdev/block_device.h"
#include "fileio/drive_table.h"
#include "fileio_fixture.h"
#include "platform/error_codes.h"

namespace vrax {
namespace {

class KeptStateTest : public test::FileioTest {};

// Creating more files than the MFT holds makes it grow (record 0 changes):
// a call that started from the MFT as it was would not find the new records.
TEST_F(KeptStateTest, CallsSeeTheMftGrowBetweenThem) {
  FormatAndMount("--size 16M");
  for (int i = 0; i < 300; ++i) {
    const std::string path = "/1/f" + std::to_string(i);
    WriteFile(path, {static_cast<uint8_t>(i)});
    EXPECT_EQ(ReadFile(path), std::vector<uint8_t>{static_cast<uint8_t>(i)}) << path;
  }
  EXPECT_EQ(Names("/1/*").size(), 300u);
  ExpectClean();
}

// A write that reaches the boot sector behind the volume core's back (here
// straight through the device) is seen by the very next call.
TEST_F(KeptStateTest, AWriteToTheBootSectorIsSeenAtOnce) {
  FormatAndMount("--size 8M");
  WriteFile("/1/a", {1, 2, 3});
  EXPECT_EQ(Stat("/1/a").st_size, 3);
  BlockDevice* device = CurrentDrive();
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> sector(512);
  ASSERT_EQ(DeviceRead(*device, sector.data(), 512, 0), 0);
  const std::vector<uint8_t> saved = sector;
  sector[3] = 'X';  // the identifier at 0x03 no longer matches
  ASSERT_EQ(DeviceWrite(*device, sector.data(), 512, 0), 0);
  struct stat record;
  EXPECT_EQ(VRAX_stat64("/1/a", &record), kErrBadStructure);
  ASSERT_EQ(DeviceWrite(*device, saved.data(), 512, 0), 0);
  EXPECT_EQ(VRAX_stat64("/1/a", &record), 0);
}

}  // namespace
}  // namespace vrax
