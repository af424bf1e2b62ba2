// Renaming, removing and creating names, with the failure lines.
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using test::CapturedStderr;

class NamespaceTest : public test::FileioTest {};

const std::string kDenied = "ERROR #5: Access is denied.\n";
const std::string kNotFound = "ERROR #3: The system cannot find the path specified.\n";
const std::string kExists = "ERROR #183: Cannot create a file when that file already exists.\n";

TEST_F(NamespaceTest, RenameGivesANewNameInTheSameDirectory) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  WriteFile("/1/d/a", {1, 2});
  EXPECT_EQ(VRAX_rename("/1/d/a", "/1/d/B"), 0);
  EXPECT_EQ(Names("/1/d/*"), std::vector<std::string>{"B"});
  EXPECT_EQ(VRAX_rename("/1/d/b", "/1/d/b"), 0);
  EXPECT_EQ(Names("/1/d/*"), std::vector<std::string>{"b"});
  EXPECT_EQ(ReadFile("/1/d/b"), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(VRAX_rename("/1/d", "/1/e"), 0);
  EXPECT_EQ(Names("/1/*"), std::vector<std::string>{"e"});
  Unmount();
  ExpectClean();
}

TEST_F(NamespaceTest, AFailedRenamePrintsBothPathsAndTheErrorText) {
  FormatAndMount("--size 8M");
  WriteFile("/1/a", {});
  WriteFile("/1/b", {});
  int result = 0;
  std::string err = CapturedStderr([&] { result = VRAX_rename("/1/a", "/1/B"); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, "rename /1/a /1/B\n" + kExists);
  EXPECT_EQ(VRAX_LastError(), 183);
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  err = CapturedStderr([&] { result = VRAX_rename("/1/d", "/1/d/a"); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, "rename cannot move /1/d to /1/d/a\nrename /1/d /1/d/a\n"
                 "ERROR #161: The specified path is invalid.\n");
  err = CapturedStderr([&] { result = VRAX_rename("/1/none", "/1/c"); });
  EXPECT_EQ(err, "rename /1/none /1/c\n" + kNotFound);
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"a", "b", "d"}));
}

TEST_F(NamespaceTest, RemoveTakesFilesAndEmptyDirectories) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", std::vector<uint8_t>(50000, 1));
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  EXPECT_EQ(VRAX_remove("/1/f", 0), 0);
  EXPECT_EQ(VRAX_remove("/1/d", 0), 0);
  VraxFindData data;
  EXPECT_EQ(VRAX_FindFirstFile("/1/*", &data), kInvalidFind);
  // A quiet remove of a missing path prints nothing.
  int result = 0;
  std::string err = CapturedStderr([&] { result = VRAX_remove("/1/none", 1); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, "");
  EXPECT_EQ(VRAX_LastError(), 3);
  err = CapturedStderr([&] { result = VRAX_remove("/1/none", 0); });
  EXPECT_EQ(err, "remove /1/none\n" + kNotFound);
  Unmount();
  ExpectClean();
}

TEST_F(NamespaceTest, AnOpenFileIsNeitherRemovedNorRenamed) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", {7});
  VRAX_FILE* file = VRAX_fopen64("/1/f", "rb");
  ASSERT_NE(file, nullptr);
  const std::string inUse =
      "ERROR #32: The process cannot access the file because it is being used by another "
      "process.\n";
  std::string err = CapturedStderr([] { EXPECT_EQ(VRAX_remove("/1/f", 0), -1); });
  EXPECT_EQ(err, "remove /1/f\n" + inUse);
  err = CapturedStderr([] { EXPECT_EQ(VRAX_rename("/1/f", "/1/g"), -1); });
  EXPECT_EQ(err, "rename /1/f /1/g\n" + inUse);
  VRAX_fclose(file);
  EXPECT_EQ(VRAX_remove("/1/f", 0), 0);
}

TEST_F(NamespaceTest, MkdirRmdirAndNullPaths) {
  FormatAndMount("--size 8M");
  EXPECT_EQ(VRAX_mkdir("/1/d"), 0);
  EXPECT_EQ(VRAX_mkdir("/1/d/e"), 0);
  int result = 0;
  std::string err = CapturedStderr([&] { result = VRAX_mkdir("/1/D"); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, "mkdir /1/D\n" + kExists);
  err = CapturedStderr([&] { result = VRAX_mkdir("/1/-d"); });
  EXPECT_EQ(err, "mkdir /1/-d\nERROR #161: The specified path is invalid.\n");
  err = CapturedStderr([&] { result = VRAX_rmdir("/1/d"); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, "rmdir /1/d\nERROR #145: The directory is not empty.\n");
  err = CapturedStderr([&] { result = VRAX_rmdir("/1"); });
  EXPECT_EQ(err, "rmdir /1\n" + kDenied);
  EXPECT_EQ(VRAX_rmdir("/1/d/e"), 0);
  EXPECT_EQ(VRAX_rmdir("/1/d"), 0);
  WriteFile("/1/f", {});
  EXPECT_EQ(VRAX_rmdir("/1/f"), 0);
  CapturedStderr([] {
    EXPECT_EQ(VRAX_mkdir(nullptr), -1);
    EXPECT_EQ(VRAX_rmdir(nullptr), -1);
    EXPECT_EQ(VRAX_remove(nullptr, 0), -1);
    EXPECT_EQ(VRAX_rename("/1/a", nullptr), -1);
    EXPECT_EQ(VRAX_rename(nullptr, "/1/a"), -1);
  });
  Unmount();
  ExpectClean();
}

TEST_F(NamespaceTest, AReadOnlyDriveRefusesEveryChangeWithTheMessages) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", {});
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  Mount(false);
  const std::string disabled = "Cannot write - disabled\n";
  int result = 0;
  std::string err = CapturedStderr([&] { result = VRAX_mkdir("/1/x"); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, disabled + "mkdir /1/x\n" + kDenied);
  err = CapturedStderr([&] { result = VRAX_rmdir("/1/d"); });
  EXPECT_EQ(err, disabled + "rmdir /1/d\n" + kDenied);
  err = CapturedStderr([&] { result = VRAX_rename("/1/f", "/1/g"); });
  EXPECT_EQ(err, disabled + "rename /1/f /1/g\n" + kDenied);
  err = CapturedStderr([&] { result = VRAX_remove("/1/f", 0); });
  EXPECT_EQ(err, disabled + "remove /1/f\n" + kDenied);
  err = CapturedStderr([&] { result = VRAX_remove("/1/f", 1); });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(err, disabled);
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"d", "f"}));
}

}  // namespace
}  // namespace vrax
