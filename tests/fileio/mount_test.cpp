// Mounting, the drive lookup, the write check, the error text and the
// debug trace.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "fileio_fixture.h"
#include "platform/settings.h"

namespace vrax {
namespace {

using test::CapturedStderr;
using test::CapturedStdout;

class MountTest : public test::FileioTest {};

TEST_F(MountTest, MountsTheRootAndFindsOnlyItsOwnDrive) {
  FormatAndMount("--size 8M");
  EXPECT_EQ(Stat("/1").st_mode, static_cast<mode_t>(S_IFDIR));
  Unmount();
  struct stat record {};
  int32_t error = 0;
  std::string err = CapturedStderr([&] { error = VRAX_stat64("/1", &record); });
  EXPECT_EQ(error, 2);
  EXPECT_EQ(err, "Drive /1 not found\n");
  FormatAndMount("--size 8M");
  VRAX_FILE* file = nullptr;
  err = CapturedStderr([&] { file = VRAX_fopen64("/2/a", "rb"); });
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(err, "Drive /2 not found\nCannot open for rb: /2/a\n"
                 "ERROR #2: The system cannot find the file specified.\n");
}

TEST_F(MountTest, AMissingImageIsReportedAndLeavesNothingMounted) {
  std::unique_ptr<VraxInterface> mount;
  const std::string err = CapturedStderr(
      [&] { mount = std::make_unique<VraxInterface>("/1", true, dir_.File("missing.img")); });
  EXPECT_FALSE(mount->mounted());
  EXPECT_NE(err.find("VRAX Interface: error 2 opening /1\n"), std::string::npos) << err;
  mount.reset();
  struct stat record {};
  CapturedStderr([&] { EXPECT_EQ(VRAX_stat64("/1", &record), 2); });
}

TEST_F(MountTest, ADiskWithoutAVolumeIsReportedAndRefusesEveryCall) {
  image_ = test::MakeImage(dir_, "zeros.img", 1 << 20);
  std::unique_ptr<VraxInterface> mount;
  const std::string err =
      CapturedStderr([&] { mount = std::make_unique<VraxInterface>("/1", true, image_); });
  EXPECT_FALSE(mount->mounted());
  EXPECT_NE(err.find("VRAX Interface: error 114 opening /1\n"), std::string::npos) << err;
  struct stat record {};
  EXPECT_EQ(VRAX_stat64("/1", &record), 114);
  VraxFindData data;
  EXPECT_EQ(VRAX_FindFirstFile("/1/*", &data), kInvalidFind);
}

TEST_F(MountTest, DriveNamesAreComparedWithoutRegardToCase) {
  image_ = dir_.File("volume.img");
  ASSERT_EQ(test::FormatVolume(image_, "--size 8M"), 0);
  CapturedStderr([&] { volume_ = std::make_unique<VraxInterface>("/Dx", true, image_); });
  ASSERT_TRUE(volume_->mounted());
  WriteFile("/dX/a", {1, 2, 3});
  EXPECT_EQ(Stat("/DX/A").st_size, 3);
  EXPECT_EQ(Names("/dx/*"), (std::vector<std::string>{"a"}));
}

TEST_F(MountTest, PathsWithoutAValidDriveNameAreRefused) {
  FormatAndMount("--size 8M");
  struct stat record {};
  std::string err = CapturedStderr([&] { EXPECT_NE(VRAX_stat64("1/a", &record), 0); });
  EXPECT_EQ(err, "Invalid device name 1/a\n");
  const std::string longName = "/" + std::string(31, '7') + "/a";
  err = CapturedStderr([&] { EXPECT_NE(VRAX_stat64(longName.c_str(), &record), 0); });
  EXPECT_EQ(err, "Invalid device name " + longName + "\n");
}

TEST_F(MountTest, CanWriteFollowsTheDrive) {
  std::string err = CapturedStderr([] { EXPECT_FALSE(VRAX_CanWrite()); });
  EXPECT_EQ(err, "");
  FormatAndMount("--size 8M");
  err = CapturedStderr([] { EXPECT_TRUE(VRAX_CanWrite()); });
  EXPECT_EQ(err, "");
  Mount(false);
  err = CapturedStderr([] { EXPECT_FALSE(VRAX_CanWrite()); });
  EXPECT_EQ(err, "Cannot write - disabled\n");
}

TEST_F(MountTest, ErrorTextsAndBareNumbers) {
  std::string err = CapturedStderr([] { EXPECT_EQ(VRAX_PrintError(0), 0); });
  EXPECT_EQ(err, "");
  err = CapturedStderr([] { EXPECT_EQ(VRAX_PrintError(-1), -1); });
  EXPECT_EQ(err, "ERROR #-1\n");
  err = CapturedStderr([] { EXPECT_EQ(VRAX_PrintError(5), 5); });
  EXPECT_EQ(err, "ERROR #5: Access is denied.\n");
  err = CapturedStderr([] { EXPECT_EQ(VRAX_PrintError(0x34FF), 0x34FF); });
  EXPECT_EQ(err, "ERROR #13567\n");
}

std::string Hex(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%08" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

TEST_F(MountTest, TheDebugTraceNamesEachCallAndItsArguments) {
  FormatAndMount("--size 8M");
  g_debug = 1;
  VRAX_FILE* file = nullptr;
  EXPECT_EQ(CapturedStdout([&] { file = VRAX_fopen64("/1/a", "wb"); }),
            "-> VRAX_fopen64(\"/1/a\",\"wb\")\n");
  ASSERT_NE(file, nullptr);
  char bytes[4] = {};
  EXPECT_EQ(CapturedStdout([&] { VRAX_fwrite(bytes, 2, 2, file); }),
            "-> VRAX_fwrite(" + Hex(bytes) + ",2,2," + Hex(file) + ")\n");
  EXPECT_EQ(CapturedStdout([&] { VRAX_fseeko64(file, 0x1234ABCDEF, 0); }),
            "-> VRAX_fseeko64(" + Hex(file) + ",1234ABCDEF,0)\n");
  EXPECT_EQ(CapturedStdout([&] { VRAX_fclose(file); }), "-> VRAX_fclose(" + Hex(file) + ")\n");
  file = VRAX_fopen64("/1/a", "rb");
  EXPECT_EQ(CapturedStdout([&] { VRAX_fread(bytes, 1, 4, file); }), "");
  CapturedStdout([&] { VRAX_fclose(file); });
  struct stat record {};
  EXPECT_EQ(CapturedStdout([&] { VRAX_stat64("/1/a", &record); }),
            "-> VRAX_stat64(\"/1/a\"," + Hex(&record) + ")\n");
  EXPECT_EQ(CapturedStdout([] { VRAX_mkdir("/1/d"); }), "-> VRAX_mkdir(\"/1/d\"\n");
  EXPECT_EQ(CapturedStdout([] { VRAX_rename("/1/a", "/1/b"); }),
            "-> VRAX_rename(\"/1/a\" \"/1/b\"\n");
  EXPECT_EQ(CapturedStdout([] { VRAX_remove("/1/b", 0); }), "-> VRAX_remove(\"/1/b\"\n");
  EXPECT_EQ(CapturedStdout([] { VRAX_rmdir("/1/d"); }), "-> VRAX_rmdir(\"/1/d\"\n");
  EXPECT_EQ(CapturedStdout([] { VRAX_CanWrite(); }), "");
  EXPECT_EQ(CapturedStdout([] { CapturedStderr([] { VRAX_PrintError(5); }); }), "");
  g_debug = 0;
  WriteFile("/1/a", {});
  g_debug = 1;
  VraxFindData data;
  VRAX_FIND* find = nullptr;
  EXPECT_EQ(CapturedStdout([&] { find = VRAX_FindFirstFile("/1/*", &data); }),
            "-> VRAX_FindFirstFile(\"/1/*\"," + Hex(&data) + ")\n");
  ASSERT_NE(find, kInvalidFind);
  EXPECT_EQ(CapturedStdout([&] { VRAX_FindNextFile(find, &data); }),
            "-> VRAX_FindNextFile(" + Hex(find) + "," + Hex(&data) + ")\n");
  EXPECT_EQ(CapturedStdout([&] { VRAX_FindClose(find); }),
            "-> VRAX_FindClose(" + Hex(find) + ")\n");
}

TEST_F(MountTest, MountingAndCallsWithoutTheDebugSwitchPrintNoTrace) {
  image_ = dir_.File("volume.img");
  ASSERT_EQ(test::FormatVolume(image_, "--size 8M"), 0);
  g_debug = 1;
  std::string out;
  CapturedStderr([&] {
    out = CapturedStdout([&] { volume_ = std::make_unique<VraxInterface>("/1", true, image_); });
  });
  EXPECT_TRUE(volume_->mounted());
  EXPECT_EQ(out.find("-> "), std::string::npos) << out;
  g_debug = 0;
  out = CapturedStdout([&] {
    WriteFile("/1/a", {1});
    Stat("/1/a");
    Names("/1/*");
    VRAX_remove("/1/a", 0);
  });
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace vrax
