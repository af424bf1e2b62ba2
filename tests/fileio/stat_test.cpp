// What VRAX_stat64 reports for files, directories and missing paths, and
// setting a descriptor's date last modified.
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "fileio_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {
namespace {

using namespace test;

class StatTest : public test::FileioTest {};

TEST_F(StatTest, FilesAndDirectoriesShowTheirTypeSizeAndTimes) {
  FormatAndMount("--size 8M");
  const std::time_t before = AsStored(std::time(nullptr));
  WriteFile("/1/f", std::vector<uint8_t>(12345, 1));
  const std::time_t after = AsStored(std::time(nullptr));
  const struct stat record = Stat("/1/f");
  EXPECT_EQ(record.st_mode, static_cast<mode_t>(S_IFREG));
  EXPECT_EQ(record.st_size, 12345);
  EXPECT_GE(record.st_mtime, before);
  EXPECT_LE(record.st_mtime, after);
  EXPECT_EQ(record.st_ctime % 60, 0);
  EXPECT_LE(record.st_ctime, record.st_mtime);
  EXPECT_GT(record.st_ctime, record.st_mtime - 24 * 3600);
  // A missing path, or one through a file, gives its error silently and a
  // zeroed record.
  for (const char* path : {"/1/none", "/1/f/x"}) {
    struct stat zeroed;
    std::memset(&zeroed, 0xA5, sizeof zeroed);
    EXPECT_EQ(test::CapturedStderr([&] { EXPECT_EQ(VRAX_stat64(path, &zeroed), 3); }), "");
    EXPECT_EQ(zeroed.st_mode + zeroed.st_size + zeroed.st_mtime, 0) << path;
  }
  EXPECT_EQ(VRAX_stat64("/1/f", nullptr), 87);
  // Directories show their type and the fixed size.
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  EXPECT_NE(Stat("/1/d").st_mtime, 0);
  for (const char* path : {"/1/d", "/1", "/1/d/.."}) {
    EXPECT_EQ(Stat(path).st_mode, static_cast<mode_t>(S_IFDIR)) << path;
    EXPECT_EQ(Stat(path).st_size, 32768) << path;
  }
  ExpectClean();
}

// Stamps convert as local standard time; a zero year, month or day, or no
// descriptor at all, means no time.
TEST_F(StatTest, StampsConvertAsLocalStandardTimeOrNoTime) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", {});
  PatchDescriptor("/1/f", 3, {121, 3, 4, 5, 6});
  PatchDescriptor("/1/f", 13, {99, 12, 31});
  struct stat record = Stat("/1/f");
  EXPECT_EQ(record.st_mtime, StandardTime(2021, 3, 4, 5, 6));
  EXPECT_EQ(record.st_atime, StandardTime(2021, 3, 4, 5, 6));
  EXPECT_EQ(record.st_ctime, StandardTime(1999, 12, 31, 0, 0));
  for (size_t field = 0; field < 3; ++field) {
    std::vector<uint8_t> stamp = {121, 3, 4, 5, 6};
    stamp[field] = 0;
    PatchDescriptor("/1/f", 3, stamp);
    PatchDescriptor("/1/f", 13, std::vector<uint8_t>(stamp.begin(), stamp.begin() + 3));
    record = Stat("/1/f");
    EXPECT_EQ(record.st_mtime, 0) << field;
    EXPECT_EQ(record.st_ctime, 0) << field;
  }
  WriteFile("/1/g", std::vector<uint8_t>(100, 2));
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitOpen(t, "/1/g"), 0);
  ASSERT_EQ(SetAttributeSize(t, t->fileChain, AT_OSK_FILEDES, 0), 0);
  ASSERT_EQ(WriteChain(t, t->fileChain), 0);
  ToolkitClose(t);
  record = Stat("/1/g");
  EXPECT_EQ(record.st_mode, static_cast<mode_t>(S_IFREG));
  EXPECT_EQ(record.st_size, 100);
  EXPECT_EQ(record.st_mtime + record.st_atime + record.st_ctime, 0);
}

// Changing a file's data (append, truncate, overwrite) sets its date last
// modified, reading does not; set directly, the time keeps the minute.
TEST_F(StatTest, ChangingTheDataSetsTheTimeAndRefusedTimes) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", {1, 2, 3});
  const std::time_t when = 1614834395;  // early March 2021
  const auto recent = [](std::time_t t) { return std::abs(t - AsStored(std::time(nullptr))) < 120; };
  for (const char* mode : {"ab", "wb", "r+b"}) {
    ASSERT_EQ(VRAX_SetModifiedTime("/1/f", when), 0);
    EXPECT_EQ(ReadFile("/1/f").empty(), false);
    EXPECT_EQ(Stat("/1/f").st_mtime, AsStored(when)) << "a read changed it";
    VRAX_FILE* file = VRAX_fopen64("/1/f", mode);
    ASSERT_NE(file, nullptr) << mode;
    EXPECT_EQ(VRAX_fwrite("xy", 1, 2, file), 2u) << mode;
    VRAX_fclose(file);
    EXPECT_TRUE(recent(Stat("/1/f").st_mtime)) << mode;
  }
  // Setting the time refuses times the descriptor cannot hold, the root (a
  // system record), a missing path and a descriptor that forbids writing.
  const std::time_t before = Stat("/1/f").st_mtime;
  EXPECT_EQ(VRAX_SetModifiedTime("/1/f", -3000000000LL), 87);  // 1874
  EXPECT_EQ(VRAX_SetModifiedTime("/1/f", 6000000000LL), 87);   // 2160
  EXPECT_EQ(Stat("/1/f").st_mtime, before);
  EXPECT_EQ(VRAX_SetModifiedTime("/1/f", 0), 0);  // 1970 fits
  EXPECT_EQ(VRAX_SetModifiedTime("/1", 1600000000), 5);
  EXPECT_EQ(VRAX_SetModifiedTime("/1/none", 1600000000), 3);
  EXPECT_EQ(VRAX_LastError(), 3);
  PatchDescriptor("/1/f", 0, {0x09});  // owner and public read only
  EXPECT_EQ(VRAX_SetModifiedTime("/1/f", 1600000000), 5);
  EXPECT_EQ(Stat("/1/f").st_mtime, AsStored(0));
  ExpectClean();
}

}  // namespace
}  // namespace vrax
