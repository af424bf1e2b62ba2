// Mounting, the drive lookup, the write check, the error text and the
// debug trace.
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fileio_fixture.h"
#include "platform/settings.h"

namespace vrax {
namespace {

using test::CapturedStderr;
using test::CapturedStdout;

class MountTest : public test::FileioTest {};

// The drive is found by its name in any letter case; other names, names
// that are no drive names, and any name once unmounted are refused.
TEST_F(MountTest, DriveLookup) {
  image_ = dir_.File("volume.img");
  ASSERT_EQ(test::FormatVolume(image_, "--size 8M"), 0);
  CapturedStderr([&] { volume_ = std::make_unique<VraxInterface>("/Dx", true, image_); });
  ASSERT_TRUE(volume_->mounted());
  WriteFile("/dX/a", {1, 2, 3});
  EXPECT_EQ(Stat("/DX/A").st_size, 3);
  EXPECT_EQ(Stat("/dx").st_mode, static_cast<mode_t>(S_IFDIR));
  EXPECT_EQ(Names("/dx/*"), (std::vector<std::string>{"a"}));
  const std::string longName = "/" + std::string(31, '7') + "/a";
  const struct {
    std::string path;
    int32_t error;
    std::string err;
  } cases[] = {
      {"/2/a", 2, "Drive /2 not found\n"},
      {"Dx/a", -1, "Invalid device name Dx/a\n"},
      {longName, -1, "Invalid device name " + longName + "\n"},
  };
  for (const auto& c : cases) {
    struct stat record {};
    int32_t error = 0;
    EXPECT_EQ(CapturedStderr([&] { error = VRAX_stat64(c.path.c_str(), &record); }), c.err);
    EXPECT_EQ(error, c.error) << c.path;
  }
  VRAX_FILE* file = nullptr;
  EXPECT_EQ(CapturedStderr([&] { file = VRAX_fopen64("/2/a", "rb"); }),
            "Drive /2 not found\nCannot open for rb: /2/a\n"
            "ERROR #2: The system cannot find the file specified.\n");
  EXPECT_EQ(file, nullptr);
  Unmount();
  struct stat record {};
  int32_t error = 0;
  EXPECT_EQ(CapturedStderr([&] { error = VRAX_stat64("/Dx", &record); }), "Drive /Dx not found\n");
  EXPECT_EQ(error, 2);
}

// A missing image, or a disk without a volume, is reported; nothing is
// mounted and every call fails with the error.
TEST_F(MountTest, AMountThatFailsIsReportedAndRefusesEveryCall) {
  const struct {
    std::string image;
    int32_t error;
  } cases[] = {
      {dir_.File("missing.img"), 2},
      {test::MakeImage(dir_, "zeros.img", 1 << 20), 114},
  };
  for (const auto& c : cases) {
    const std::string err =
        CapturedStderr([&] { volume_ = std::make_unique<VraxInterface>("/1", true, c.image); });
    EXPECT_FALSE(volume_->mounted());
    EXPECT_NE(err.find("VRAX Interface: error " + std::to_string(c.error) + " opening /1\n"),
              std::string::npos)
        << err;
    struct stat record {};
    VraxFindData data;
    CapturedStderr([&] {
      EXPECT_EQ(VRAX_stat64("/1", &record), c.error) << c.image;
      EXPECT_EQ(VRAX_FindFirstFile("/1/*", &data), kInvalidFind);
    });
    Unmount();
  }
}

TEST_F(MountTest, CanWriteFollowsTheDriveAndErrorsPrintTheirText) {
  EXPECT_EQ(CapturedStderr([] { EXPECT_FALSE(VRAX_CanWrite()); }), "");
  FormatAndMount("--size 8M");
  EXPECT_EQ(CapturedStderr([] { EXPECT_TRUE(VRAX_CanWrite()); }), "");
  Mount(false);
  EXPECT_EQ(CapturedStderr([] { EXPECT_FALSE(VRAX_CanWrite()); }), "Cannot write - disabled\n");
  const std::pair<int32_t, std::string> errors[] = {
      {0, ""}, {-1, "ERROR #-1\n"}, {5, "ERROR #5: Access is denied.\n"}, {0x34FF, "ERROR #13567\n"}};
  for (const auto& [error, text] : errors) {
    EXPECT_EQ(CapturedStderr([&] { EXPECT_EQ(VRAX_PrintError(error), error); }), text);
  }
}

std::string Hex(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%08" PRIXPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

// With the debug switch each call prints its name and arguments; without,
// nothing.
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
  struct stat record {};
  EXPECT_EQ(CapturedStdout([&] { VRAX_stat64("/1/a", &record); }),
            "-> VRAX_stat64(\"/1/a\"," + Hex(&record) + ")\n");
  VraxFindData data;
  VRAX_FIND* find = nullptr;
  EXPECT_EQ(CapturedStdout([&] { find = VRAX_FindFirstFile("/1/*", &data); }),
            "-> VRAX_FindFirstFile(\"/1/*\"," + Hex(&data) + ")\n");
  ASSERT_NE(find, kInvalidFind);
  EXPECT_EQ(CapturedStdout([&] { VRAX_FindNextFile(find, &data); }),
            "-> VRAX_FindNextFile(" + Hex(find) + "," + Hex(&data) + ")\n");
  EXPECT_EQ(CapturedStdout([&] { VRAX_FindClose(find); }),
            "-> VRAX_FindClose(" + Hex(find) + ")\n");
  const std::pair<std::function<void()>, std::string> calls[] = {
      {[] { VRAX_SetModifiedTime("/1/a", 1600000000); },
       "-> VRAX_SetModifiedTime(\"/1/a\",1600000000)\n"},
      {[] { VRAX_mkdir("/1/d"); }, "-> VRAX_mkdir(\"/1/d\"\n"},
      {[] { VRAX_rename("/1/a", "/1/b"); }, "-> VRAX_rename(\"/1/a\" \"/1/b\"\n"},
      {[] { VRAX_remove("/1/b", 0); }, "-> VRAX_remove(\"/1/b\"\n"},
      {[] { VRAX_rmdir("/1/d"); }, "-> VRAX_rmdir(\"/1/d\"\n"},
  };
  for (const auto& [call, trace] : calls) EXPECT_EQ(CapturedStdout(call), trace);
  g_debug = 0;
  EXPECT_EQ(CapturedStdout([&] {
              WriteFile("/1/a", {1});
              Stat("/1/a");
              Names("/1/*");
              VRAX_remove("/1/a", 0);
            }),
            "");
}

}  // namespace
}  // namespace vrax
