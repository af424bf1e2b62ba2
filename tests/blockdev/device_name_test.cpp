#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "blockdev/attachment.h"
#include "blockdev/block_device.h"

namespace vrax {
namespace {

struct Parsed {
  const char* rest;
  std::string name;
  std::string output;
};

Parsed Parse(const char* path) {
  char name[kDeviceNameSize];
  std::memset(name, 'x', sizeof name);
  ::testing::internal::CaptureStderr();
  const char* rest = ParseDeviceName(path, name);
  std::string output = ::testing::internal::GetCapturedStderr();
  return {rest, name, output};
}

TEST(ParseDeviceName, SplitsTheDeviceFromTheRest) {
  const char* path = "/1/dir/file";
  const Parsed p = Parse(path);
  EXPECT_EQ(p.name, "/1");
  EXPECT_EQ(p.rest, path + 3);
  EXPECT_STREQ(p.rest, "dir/file");
  EXPECT_TRUE(p.output.empty());
}

TEST(ParseDeviceName, DeviceAloneOrWithOneSlashLeavesAnEmptyRest) {
  for (const char* path : {"/1", "/1/"}) {
    const Parsed p = Parse(path);
    ASSERT_NE(p.rest, nullptr) << path;
    EXPECT_STREQ(p.rest, "") << path;
    EXPECT_EQ(p.name, "/1") << path;
  }
  const Parsed root = Parse("/");
  ASSERT_NE(root.rest, nullptr);
  EXPECT_EQ(root.name, "/");
  EXPECT_STREQ(Parse("/1//x").rest, "/x");  // only one slash belongs to the name
}

TEST(ParseDeviceName, RefusesPathsWithoutLeadingSlash) {
  const Parsed p = Parse("1/dir");
  EXPECT_EQ(p.rest, nullptr);
  EXPECT_EQ(p.output, "Invalid device name 1/dir\n");
  EXPECT_EQ(p.name, "");
  EXPECT_EQ(Parse("").output, "Invalid device name \n");
  const Parsed null = Parse(nullptr);
  EXPECT_EQ(null.rest, nullptr);
  EXPECT_EQ(null.output, "Invalid device name null\n");
}

TEST(ParseDeviceName, AcceptsThirtyOneCharactersAndNoMore) {
  const std::string longest = "/" + std::string(30, 'a');
  const std::string path = longest + "/f";
  const Parsed ok = Parse(path.c_str());
  ASSERT_NE(ok.rest, nullptr);
  EXPECT_EQ(ok.name, longest);
  EXPECT_STREQ(ok.rest, "f");
  EXPECT_NE(Parse(longest.c_str()).rest, nullptr);

  const std::string tooLong = "/" + std::string(31, 'a');
  const Parsed refused = Parse(tooLong.c_str());
  EXPECT_EQ(refused.rest, nullptr);
  EXPECT_EQ(refused.output, "Invalid device name " + tooLong + "\n");
}

TEST(ParseDeviceName, MessageShowsAtMostSixtyFourCharacters) {
  const std::string path = "/" + std::string(100, 'b');
  EXPECT_EQ(Parse(path.c_str()).output, "Invalid device name " + path.substr(0, 64) + "\n");
}

TEST(DriveNumberFromName, ReadsTheDigitsAfterTheFirstCharacter) {
  EXPECT_EQ(DriveNumberFromName("/1"), 1);
  EXPECT_EQ(DriveNumberFromName("/3"), 3);
  EXPECT_EQ(DriveNumberFromName("/012"), 12);
  EXPECT_EQ(DriveNumberFromName("/12abc"), 12);
  EXPECT_EQ(DriveNumberFromName("/"), 0);
  EXPECT_EQ(DriveNumberFromName("/disk"), 0);
  EXPECT_EQ(DriveNumberFromName("/-5"), 0);
  EXPECT_EQ(DriveNumberFromName(""), 0);
  EXPECT_EQ(DriveNumberFromName(nullptr), 0);
  EXPECT_EQ(DriveNumberFromName("/2147483647"), INT32_MAX);
  EXPECT_EQ(DriveNumberFromName("/99999999999999999999"), INT32_MAX);
}

TEST(HostDiskPathForDrive, NamesDisksTheWayLinuxDoes) {
  EXPECT_EQ(HostDiskPathForDrive(0), "/dev/sda");
  EXPECT_EQ(HostDiskPathForDrive(1), "/dev/sdb");
  EXPECT_EQ(HostDiskPathForDrive(25), "/dev/sdz");
  EXPECT_EQ(HostDiskPathForDrive(26), "/dev/sdaa");
  EXPECT_EQ(HostDiskPathForDrive(27), "/dev/sdab");
  EXPECT_EQ(HostDiskPathForDrive(51), "/dev/sdaz");
  EXPECT_EQ(HostDiskPathForDrive(52), "/dev/sdba");
  EXPECT_EQ(HostDiskPathForDrive(701), "/dev/sdzz");
  EXPECT_EQ(HostDiskPathForDrive(702), "/dev/sdaaa");
  EXPECT_EQ(HostDiskPathForDrive(-1), "");
  EXPECT_EQ(HostDiskPathForDrive(INT32_MAX).rfind("/dev/sd", 0), 0u);
}

}  // namespace
}  // namespace vrax
