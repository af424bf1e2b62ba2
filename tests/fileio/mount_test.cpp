// Mounting, the drive lookup, the write check, the error text, the debug
// trace, and the mounted state kept between calls, which must never answer
// for a disk that has changed since.
#include <string>
#include <utility>
#include <vector>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "fileio_fixture.h"
#include "platform/error_codes.h"
#include "platform/settings.h"

namespace vrax {
namespace {

using namespace test;

class MountTest : public test::FileioTest {};

// The drive is found by its name in any letter case; other names, and any
// name once unmounted, are refused.
TEST_F(MountTest, DriveLookup) {
  image_ = dir_.File("volume.img");
  ASSERT_EQ(test::FormatVolume(image_, "--size 8M"), 0);
  CapturedStderr([&] { volume_ = std::make_unique<VraxInterface>("/Dx", true, image_); });
  ASSERT_TRUE(volume_->mounted());
  WriteFile("/dX/a", {1, 2, 3});
  EXPECT_EQ(Stat("/DX/A").st_size, 3);
  VRAX_FILE* file = nullptr;
  EXPECT_EQ(CapturedStderr([&] { file = VRAX_fopen64("/2/a", "rb"); }),
            "Drive /2 not found\nCannot open for rb: /2/a\n"
            "ERROR #2: The system cannot find the file specified.\n");
  Unmount();
  struct stat record {};
  int32_t error = 0;
  EXPECT_EQ(CapturedStderr([&] { error = VRAX_stat64("/Dx", &record); }), "Drive /Dx not found\n");
  EXPECT_EQ(error, 2);
}

// A missing image, or a disk without a volume, is reported; nothing is
// mounted and every call fails with the error.
TEST_F(MountTest, AMountThatFailsIsReportedAndRefusesEveryCall) {
  const std::pair<std::string, int32_t> cases[] = {
      {dir_.File("missing.img"), 2}, {test::MakeImage(dir_, "zeros.img", 1 << 20), 114}};
  for (const auto& [image, error] : cases) {
    const std::string err =
        CapturedStderr([&] { volume_ = std::make_unique<VraxInterface>("/1", true, image); });
    EXPECT_FALSE(volume_->mounted());
    EXPECT_NE(err.find("VRAX Interface: error " + std::to_string(error) + " opening /1\n"),
              std::string::npos)
        << err;
    struct stat record {};
    VraxFindData data;
    CapturedStderr([&] {
      EXPECT_EQ(VRAX_stat64("/1", &record), error) << image;
      EXPECT_EQ(VRAX_FindFirstFile("/1/*", &data), kInvalidFind);
    });
    Unmount();
  }
}

TEST_F(MountTest, CanWriteFollowsTheDriveAndErrorsPrintTheirText) {
  EXPECT_EQ(CapturedStderr([] { EXPECT_FALSE(VRAX_CanWrite()); }), "");
  FormatAndMount("--size 8M");
  EXPECT_EQ(CapturedStderr([] { EXPECT_TRUE(VRAX_CanWrite()); }), "");
  const std::pair<int32_t, std::string> errors[] = {{0, ""}, {0x34FF, "ERROR #13567\n"}};
  for (const auto& [error, text] : errors) {
    EXPECT_EQ(CapturedStderr([&] { EXPECT_EQ(VRAX_PrintError(error), error); }), text);
  }
}

// The debug switch makes each call print its name and arguments.
TEST_F(MountTest, TheDebugSwitchTurnsTracingOn) {
  FormatAndMount("--size 8M");
  g_debug = 1;
  EXPECT_EQ(CapturedStdout([] { VRAX_mkdir("/1/d"); }), "-> VRAX_mkdir(\"/1/d\"\n");
  g_debug = 0;
  EXPECT_EQ(CapturedStdout([] { VRAX_rmdir("/1/d"); }), "");
}

// Creating more files than the MFT holds makes it grow (record 0 changes):
// a call that started from the MFT as it was would not find the new records.
TEST_F(MountTest, CallsSeeTheMftGrowBetweenThem) {
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
TEST_F(MountTest, AWriteToTheBootSectorIsSeenAtOnce) {
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
