// Setting a descriptor's date last modified.
#include <cstdlib>
#include <ctime>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

class SetModifiedTest : public test::FileioTest {};

using test::AsStored;

TEST_F(SetModifiedTest, TheTimeIsSetToTheMinuteAndChangingTheDataSetsItAgain) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", {1, 2, 3});
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  const std::time_t when = 1614834395;  // early March 2021
  EXPECT_EQ(VRAX_SetModifiedTime("/1/f", when), 0);
  EXPECT_EQ(VRAX_SetModifiedTime("/1/d", when + 86400 * 40), 0);
  EXPECT_EQ(Stat("/1/f").st_mtime, AsStored(when));
  EXPECT_EQ(Stat("/1/d").st_mtime, AsStored(when + 86400 * 40));
  EXPECT_EQ(ReadFile("/1/f"), (std::vector<uint8_t>{1, 2, 3}));
  // Changing a file's data (overwrite, append, truncate) makes the time of
  // the change its date last modified; reading it does not.
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
  Unmount();
  ExpectClean();
}

// Refusals: times the descriptor cannot hold, the root (a system record),
// a missing path and a descriptor that forbids writing. A read-only drive
// is in read_only_test.cpp.
TEST_F(SetModifiedTest, RefusedTimesAndEntries) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", {});
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
}

}  // namespace
}  // namespace vrax
