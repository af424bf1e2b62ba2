// Renaming, removing and creating names, with the failure lines and the
// error each failure leaves for VRAX_LastError.
#include <functional>
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using test::CapturedStderr;

class NamespaceTest : public test::FileioTest {};

TEST_F(NamespaceTest, RenamesRemovalsAndDirectories) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  ASSERT_EQ(VRAX_mkdir("/1/d/e"), 0);
  WriteFile("/1/d/a", {1, 2});
  EXPECT_EQ(VRAX_rename("/1/d/a", "/1/d/B"), 0);
  EXPECT_EQ(VRAX_rename("/1/d/b", "/1/d/b"), 0);  // only the letter case changes
  EXPECT_EQ(Names("/1/d/*"), (std::vector<std::string>{"b", "e"}));
  EXPECT_EQ(VRAX_rename("/1/d", "/1/x"), 0);
  EXPECT_EQ(Names("/1/*"), std::vector<std::string>{"x"});
  EXPECT_EQ(VRAX_rmdir("/1/x/e"), 0);
  EXPECT_EQ(VRAX_rmdir("/1/x/b"), 0);  // rmdir takes a file too
  WriteFile("/1/f", std::vector<uint8_t>(50000, 1));
  EXPECT_EQ(VRAX_remove("/1/f", 0), 0);
  EXPECT_EQ(VRAX_remove("/1/x", 0), 0);  // and remove an empty directory
  VraxFindData data;
  EXPECT_EQ(VRAX_FindFirstFile("/1/*", &data), kInvalidFind);
  ExpectClean();
}

TEST_F(NamespaceTest, FailuresPrintTheCallThePathsAndTheErrorText) {
  FormatAndMount("--size 8M");
  WriteFile("/1/a", {});
  WriteFile("/1/b", {});
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  ASSERT_EQ(VRAX_mkdir("/1/d/e"), 0);
  WriteFile("/1/f", {7});
  VRAX_FILE* open = VRAX_fopen64("/1/f", "rb");  // neither removed nor renamed
  ASSERT_NE(open, nullptr);
  const std::string exists = "ERROR #183: Cannot create a file when that file already exists.\n";
  const std::string notFound = "ERROR #3: The system cannot find the path specified.\n";
  const std::string invalid = "ERROR #161: The specified path is invalid.\n";
  const std::string inUse =
      "ERROR #32: The process cannot access the file because it is being used by another "
      "process.\n";
  const struct {
    std::function<int()> call;
    std::string err;
    int32_t error;
  } cases[] = {
      {[] { return VRAX_rename("/1/a", "/1/B"); }, "rename /1/a /1/B\n" + exists, 183},
      {[] { return VRAX_rename("/1/d", "/1/d/a"); },
       "rename cannot move /1/d to /1/d/a\nrename /1/d /1/d/a\n" + invalid, 161},
      {[] { return VRAX_rename("/1/none", "/1/c"); }, "rename /1/none /1/c\n" + notFound, 3},
      {[] { return VRAX_rename("/1/f", "/1/g"); }, "rename /1/f /1/g\n" + inUse, 32},
      {[] { return VRAX_remove("/1/f", 0); }, "remove /1/f\n" + inUse, 32},
      {[] { return VRAX_remove("/1/none", 1); }, "", 3},  // quiet
      {[] { return VRAX_mkdir("/1/D"); }, "mkdir /1/D\n" + exists, 183},
      {[] { return VRAX_mkdir("/1/-d"); }, "mkdir /1/-d\n" + invalid, 161},
      {[] { return VRAX_rmdir("/1/d"); }, "rmdir /1/d\nERROR #145: The directory is not empty.\n",
       145},
      {[] { return VRAX_rmdir("/1"); }, "rmdir /1\nERROR #5: Access is denied.\n", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    int result = 0;
    EXPECT_EQ(CapturedStderr([&] { result = c.call(); }), c.err);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(VRAX_LastError(), c.error);
  }
  CapturedStderr([] {
    EXPECT_EQ(VRAX_mkdir(nullptr), -1);
    EXPECT_EQ(VRAX_rmdir(nullptr), -1);
    EXPECT_EQ(VRAX_remove(nullptr, 0), -1);
    EXPECT_EQ(VRAX_rename("/1/a", nullptr), -1);
    EXPECT_EQ(VRAX_rename(nullptr, "/1/a"), -1);
  });
  VRAX_fclose(open);
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"a", "b", "d", "f"}));
  EXPECT_EQ(VRAX_remove("/1/f", 0), 0);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
