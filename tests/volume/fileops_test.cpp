#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "blockdev/device_faults.h"
#include "helpers.h"
#include "platform/error_codes.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/descriptor.h"

namespace vrax {
namespace {

using test::CreatePath;
using test::NamesIn;
using test::RecordOfPath;
using FileOpsTest = test::VolumeTest;
using Names = std::vector<std::string>;

TEST_F(FileOpsTest, CreatesFilesAndDirectoriesWhereThePathSays) {
  FormatAndMount("--size 8M");
  EXPECT_EQ(CreatePath("/1/a"), 0);
  EXPECT_EQ(ToolkitMakeDirectory("/1/d"), 0);
  EXPECT_EQ(CreatePath("/1/d/a"), 0);
  EXPECT_EQ((NamesIn("/1")), (Names{"a", "d"}));
  EXPECT_EQ((NamesIn("/1/d")), (Names{"a"}));
  Toolkit* d = Open("/1/d");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(IsDirectory(d));
  uint8_t desc[kDescriptorSize] = {};
  ASSERT_EQ(ReadDescriptor(d, desc), 0);
  EXPECT_EQ(desc[0], 0x9B);
  EXPECT_EQ(DescriptorSize(desc), 0x8000u);
  uint32_t rootSize = 0;
  EXPECT_EQ(AttributeSize(d, d->fileChain, AT_INDEX_ROOT, rootSize), 0);
  EXPECT_EQ(rootSize, 0x38u);
  ToolkitClose(d);
  Toolkit* parent = Open("/1/d/a/..");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(OpenedRecordNumber(parent), RecordOfPath("/1/d"));
  ToolkitClose(parent);
  ExpectClean();
}

TEST_F(FileOpsTest, NameRulesAreEnforced) {
  FormatAndMount("--size 8M");
  for (const char* bad : {"/1/-a", "/1/#a", "/1/^a", "/1/&a", "/1/;a", "/1/<a", "/1/>a", "/1/*a",
                          "/1/\\a", "/1/ a", "/1/", "/1/d/"}) {
    EXPECT_NE(CreatePath(bad), 0) << bad;
  }
  EXPECT_EQ(CreatePath("/1/-a"), kErrBadPathname);
  EXPECT_EQ(CreatePath("/1/a-b"), 0);
  EXPECT_EQ(CreatePath("/1/a b"), 0);
  EXPECT_EQ(CreatePath("/1/" + std::string(28, 'x')), 0);
  EXPECT_EQ(CreatePath("/1/" + std::string(29, 'y')), kErrBadPathname);
  EXPECT_EQ(CreatePath("/1/."), kErrAlreadyExists);
  EXPECT_EQ(CreatePath("/1/.."), kErrAlreadyExists);
  EXPECT_EQ(CreatePath("/1/A-B"), kErrAlreadyExists);
  EXPECT_EQ(CreatePath("/1"), kErrAlreadyExists);
  EXPECT_EQ(CreatePath("/1/a-b/x"), kErrAccessDenied);  // parent is a file
  EXPECT_EQ(CreatePath("/1/none/x"), kErrPathNotFound);
  ExpectClean();
}

TEST_F(FileOpsTest, RenameGivesNamesAndMovesBetweenDirectories) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(ToolkitMakeDirectory("/1/d"), 0);
  ASSERT_EQ(ToolkitMakeDirectory("/1/e"), 0);
  ASSERT_EQ(ToolkitMakeDirectory("/1/d/inner"), 0);
  ASSERT_EQ(CreatePath("/1/d/a"), 0);
  ASSERT_EQ(CreatePath("/1/d/c"), 0);
  const uint32_t record = RecordOfPath("/1/d/a");
  EXPECT_EQ(ToolkitRename("/1/d/a", "/1/d/B"), 0);
  EXPECT_EQ(RecordOfPath("/1/d/b"), record);
  EXPECT_EQ(ToolkitRename("/1/d/B", "bb"), 0);
  EXPECT_EQ(ToolkitRename("/1/d/bb", "/1/D/BB"), 0);  // case only, and the directory part in another case
  EXPECT_EQ((NamesIn("/1/d")), (Names{"BB", "c", "inner"}));
  EXPECT_EQ(ToolkitRename("/1/d/BB", "/1/d/c"), kErrAlreadyExists);
  EXPECT_EQ(ToolkitRename("/1/d/BB", "/1/d/-x"), kErrBadPathname);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ToolkitRename("/1/d", "/1/d/inner/d"), kErrBadPathname);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "rename cannot move /1/d to /1/d/inner/d\n");
  EXPECT_EQ(ToolkitRename("/1/d/BB", "/1/e/moved"), 0);
  EXPECT_EQ(ToolkitRename("/1/d/inner", "/1/e/inner"), 0);
  EXPECT_EQ(ToolkitRename("/1/e", "/1/d/e"), 0);
  EXPECT_EQ((NamesIn("/1/d")), (Names{"c", "e"}));
  EXPECT_EQ((NamesIn("/1/d/e")), (Names{"inner", "moved"}));
  EXPECT_EQ(RecordOfPath("/1/d/e/moved"), record);
  EXPECT_EQ(OpenResult("/1/d/e/inner/.."), 0);
  ExpectClean();
}

TEST_F(FileOpsTest, RemoveFreesTheRecordAndEmptyDirectories) {
  FormatAndMount("--size 8M");
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitCreateFile(t, "/1/f"), 0);
  std::vector<uint8_t> data(100000, 0x5A);
  uint32_t done = 0;
  ASSERT_EQ(FileWrite(t, 0, static_cast<uint32_t>(data.size()), data.data(), done), 0);
  const uint32_t record = OpenedRecordNumber(t);
  EXPECT_EQ(ToolkitRemove("/1/f"), kErrSharingViolation);  // still open
  ToolkitClose(t);
  EXPECT_EQ(ToolkitRemove("/1/f"), 0);
  EXPECT_EQ(OpenResult("/1/f"), kErrPathNotFound);
  ASSERT_EQ(CreatePath("/1/g"), 0);
  EXPECT_EQ(RecordOfPath("/1/g"), record);  // the record is handed out again
  ASSERT_EQ(ToolkitMakeDirectory("/1/d"), 0);
  ASSERT_EQ(CreatePath("/1/d/x"), 0);
  EXPECT_EQ(ToolkitRemove("/1/d"), kErrDirNotEmpty);
  EXPECT_EQ(ToolkitRemove("/1/d/x"), 0);
  EXPECT_EQ(ToolkitRemove("/1/d"), 0);
  EXPECT_EQ(ToolkitRemove("/1"), kErrAccessDenied);
  EXPECT_EQ(ToolkitRemove("/1/."), kErrAccessDenied);
  EXPECT_EQ(ToolkitRemove("/1/missing"), kErrPathNotFound);
  EXPECT_EQ(NamesIn("/1"), Names{"g"});
  ExpectClean();
}

// A write that fails at any point of a creation, rename or removal (in a
// directory whose index spans several blocks) leaves a volume the checker
// finds sound, with each name either fully there or gone.
TEST_F(FileOpsTest, FailedWritesLeaveASoundVolume) {
  const auto prepare = [this](int names) {
    FormatAndMount("--size 8M");
    ASSERT_EQ(ToolkitMakeDirectory("/1/d"), 0);
    for (int i = 0; i < names; ++i) {
      ASSERT_EQ(CreatePath("/1/d/name-" + std::to_string(100 + i) + "-abcdefghij"), 0);
    }
  };
  const auto failing = [this](int k, int32_t error, const std::function<int32_t()>& change) {
    ArmDeviceFault(*device_, FaultedTransfer::kWrite, k, error);
    ::testing::internal::CaptureStderr();
    const int32_t result = change();
    ::testing::internal::GetCapturedStderr();
    DisarmDeviceFaults(*device_);
    return result;
  };
  const auto expectSound = [this](int k) {
    const test::CheckerResult check = test::RunChecker(image_);
    EXPECT_EQ(check.exitCode, 0) << "after failing write " << k << "\n" << check.output;
    return check.exitCode == 0;
  };
  prepare(0);
  for (int k = 0; k < 40; ++k) {
    const std::string name = "/1/d/f" + std::to_string(k);
    if (failing(k, kErrIoDevice, [&] { return CreatePath(name); }) == 0) {
      EXPECT_EQ(OpenResult(name), 0) << k;
    }
    if (!expectSound(k)) prepare(0);
  }
  prepare(60);
  for (int k = 0; k < 24; ++k) {
    const std::string from = "/1/d/name-" + std::to_string(100 + k) + "-abcdefghij";
    const std::string to = "/1/d/zz-renamed-" + std::to_string(k);
    const bool renamed =
        failing(k, kErrIoDevice, [&] { return ToolkitRename(from.c_str(), to.c_str()); }) == 0;
    const std::string& now = renamed ? to : from;
    EXPECT_EQ(OpenResult(now), 0) << k;
    EXPECT_NE(OpenResult(renamed ? from : to), 0) << k;
    const int32_t removed = failing(k, kErrHandleDiskFull, [&] { return ToolkitRemove(now.c_str()); });
    EXPECT_EQ(OpenResult(now) == 0, removed != 0) << k;
    if (!expectSound(k)) prepare(60);
  }
}

}  // namespace
}  // namespace vrax
