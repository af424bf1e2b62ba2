// Directory enumeration: sizes, hidden names, patterns, handles, failing reads.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "blockdev/block_device.h"
#include "blockdev/device_faults.h"
#include "blockdev/drive_table.h"
#include "fileio_fixture.h"
#include "support/image_toolkit.h"

namespace vrax {
namespace {

using test::CapturedStderr;

// `count` distinct names of mixed case and length, 28 characters among them.
std::vector<std::string> MakeNames(size_t count) {
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    std::string name = i % 3 == 0 ? "File" + std::to_string(100000 + i).substr(1)
                                  : "f" + std::to_string(i) + "_x";
    if (i % 7 == 0) name += std::string(28 - name.size(), static_cast<char>('a' + i % 26));
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> InIndexOrder(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), test::IndexOrderBefore);
  return names;
}

class FindTest : public test::FileioTest {
 protected:
  void CreateAll(const std::string& dir, const std::vector<std::string>& names) {
    ASSERT_EQ(VRAX_mkdir(dir.c_str()), 0);
    for (const std::string& name : names) WriteFile(dir + "/" + name, {});
  }
};

TEST_F(FindTest, DirectoriesOfEverySizeListEveryNameOnceInIndexOrder) {
  FormatAndMount("--size 64M");
  for (size_t count : {0u, 1u, 127u, 128u, 129u, 3000u}) {
    const std::string dir = "/1/d" + std::to_string(count);
    const std::vector<std::string> names = MakeNames(count);
    CreateAll(dir, names);
    const std::vector<std::string> listed = Names(dir + "/*");
    EXPECT_EQ(listed, InIndexOrder(names)) << count;
  }
  Unmount();
  ExpectClean();
}

// Names come one by one from a snapshot taken by the first call, then stop.
TEST_F(FindTest, TheSearchHandsOutASnapshotOneByOneAndThenStops) {
  FormatAndMount("--size 8M");
  CreateAll("/1/d", {"b", "a", "c"});
  VraxFindData data;
  VRAX_FIND* find = VRAX_FindFirstFile("/1/d/*", &data);
  ASSERT_NE(find, kInvalidFind);
  EXPECT_STREQ(data.cFileName, "a");
  WriteFile("/1/d/e", {});
  ASSERT_EQ(VRAX_remove("/1/d/b", 0), 0);
  EXPECT_EQ(VRAX_FindNextFile(find, &data), 2u);
  EXPECT_STREQ(data.cFileName, "b");
  EXPECT_EQ(VRAX_FindNextFile(find, &data), 3u);
  EXPECT_STREQ(data.cFileName, "c");
  EXPECT_EQ(VRAX_FindNextFile(find, &data), 0u);
  EXPECT_EQ(VRAX_FindNextFile(find, &data), 0u);
  EXPECT_STREQ(data.cFileName, "c");
  EXPECT_EQ(VRAX_FindClose(find), 0);
  EXPECT_EQ(Names("/1/d/*"), (std::vector<std::string>{"a", "c", "e"}));
  // Null and invalid handles are ignored.
  EXPECT_EQ(VRAX_FindNextFile(nullptr, &data), 0u);
  EXPECT_EQ(VRAX_FindNextFile(kInvalidFind, &data), 0u);
  EXPECT_EQ(VRAX_FindClose(nullptr), 0);
  EXPECT_EQ(VRAX_FindClose(kInvalidFind), 0);
  EXPECT_EQ(VRAX_FindFirstFile(nullptr, &data), kInvalidFind);
}

TEST_F(FindTest, HiddenNamesNeverAppear) {
  FormatAndMount("--size 8M");
  CreateAll("/1/d", {".hidden", "shown", ".a", "x.y"});
  EXPECT_EQ(Names("/1/d/*"), (std::vector<std::string>{"shown", "x.y"}));
  CreateAll("/1/h", {".profile", ".b"});
  VraxFindData data;
  EXPECT_EQ(VRAX_FindFirstFile("/1/h/*", &data), kInvalidFind);
  EXPECT_EQ(Stat("/1/h/.profile").st_mode, static_cast<mode_t>(S_IFREG));
}

TEST_F(FindTest, PatternsNameTheDirectoryUpToTheirFirstWildcardOrFail) {
  FormatAndMount("--size 8M");
  CreateAll("/1/d", {"a.txt", "b.bin"});
  ASSERT_EQ(VRAX_mkdir("/1/d/sub"), 0);
  const std::vector<std::string> all = {"a.txt", "b.bin", "sub"};
  EXPECT_EQ(Names("/1/d/*"), all);
  EXPECT_EQ(Names("/1/d/*.txt"), all);
  EXPECT_EQ(Names("/1/d"), all);
  EXPECT_EQ(Names("/1/*"), std::vector<std::string>{"d"});
  EXPECT_EQ(Names("/1"), std::vector<std::string>{"d"});
  EXPECT_EQ(Names("/1/d/sub/../*"), all);
  VraxFindData data;
  std::string err = CapturedStderr([&] {
    EXPECT_EQ(VRAX_FindFirstFile("/1/d/a.txt/*", &data), kInvalidFind);
    EXPECT_EQ(VRAX_FindFirstFile("/1/none/*", &data), kInvalidFind);
  });
  EXPECT_EQ(err, "");
  err = CapturedStderr([&] { EXPECT_EQ(VRAX_FindFirstFile("/2/*", &data), kInvalidFind); });
  EXPECT_EQ(err, "Drive /2 not found\n");
}

// The first read failure that leaves a partial listing lies in a later
// index block: the names before it are kept.
TEST_F(FindTest, AFailingDirectoryReadKeepsTheNamesReadBeforeIt) {
  FormatAndMount("--size 16M");
  const std::vector<std::string> names = InIndexOrder(MakeNames(300));
  CreateAll("/1/d", names);
  BlockDevice* device = CurrentDrive();
  ASSERT_NE(device, nullptr);
  std::vector<std::string> listed;
  std::string err;
  for (int32_t good = 0; good < 20000; ++good) {
    ArmDeviceFault(*device, FaultedTransfer::kRead, good, 1117, true);
    err = CapturedStderr([&] { listed = Names("/1/d/*"); });
    DisarmDeviceFaults(*device);
    if (!listed.empty()) break;
  }
  ASSERT_FALSE(listed.empty());
  EXPECT_NE(err.find("-> readdir_vrax() [/1/d] error: 1117\n"), std::string::npos) << err;
  EXPECT_LT(listed.size(), names.size());
  EXPECT_TRUE(std::equal(listed.begin(), listed.end(), names.begin()));
  EXPECT_EQ(Names("/1/d/*"), names);
}

// An entry whose record cannot be read is listed, as unreadable.
TEST_F(FindTest, AnEntryWhoseRecordCannotBeReadShowsAsUnreadable) {
  FormatAndMount("--size 8M");
  WriteFile("/1/a", {1});
  BlockDevice* device = CurrentDrive();
  ASSERT_NE(device, nullptr);
  VraxFindData data;
  VRAX_FIND* find = kInvalidFind;
  for (int32_t good = 0; good < 100 && find == kInvalidFind; ++good) {
    ArmDeviceFault(*device, FaultedTransfer::kRead, good, 1117, true);
    CapturedStderr([&] { find = VRAX_FindFirstFile("/1/*", &data); });
    DisarmDeviceFaults(*device);
  }
  ASSERT_NE(find, kInvalidFind);
  EXPECT_STREQ(data.cFileName, "a");
  EXPECT_EQ(data.statResult, 1117);
  EXPECT_EQ(data.record.st_mode, 0u);
  VRAX_FindClose(find);
  EXPECT_EQ(Names("/1/*"), std::vector<std::string>{"a"});
}

TEST_F(FindTest, EntriesCarryWhatAStatOfTheirPathGives) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  ASSERT_EQ(VRAX_mkdir("/1/d/sub"), 0);
  WriteFile("/1/d/empty", {});
  WriteFile("/1/d/some", std::vector<uint8_t>(5000, 7));
  VraxFindData data;
  VRAX_FIND* find = VRAX_FindFirstFile("/1/d/*", &data);
  ASSERT_NE(find, kInvalidFind);
  do {
    SCOPED_TRACE(data.cFileName);
    const struct stat expected = Stat(std::string("/1/d/") + data.cFileName);
    EXPECT_EQ(data.statResult, 0);
    EXPECT_EQ(data.record.st_mode, expected.st_mode);
    EXPECT_EQ(data.record.st_size, expected.st_size);
    EXPECT_EQ(data.record.st_mtime, expected.st_mtime);
    EXPECT_EQ(data.record.st_atime, expected.st_atime);
    EXPECT_EQ(data.record.st_ctime, expected.st_ctime);
  } while (VRAX_FindNextFile(find, &data) != 0);
  VRAX_FindClose(find);
}

}  // namespace
}  // namespace vrax
