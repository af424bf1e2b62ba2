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
  EXPECT_TRUE(p.output.empty());
  const struct {
    std::string path, name, rest;
  } cases[] = {
      {"/1", "/1", ""},
      {"/1/", "/1", ""},
      {"/", "/", ""},
      {"/1//x", "/1", "/x"},  // only one slash belongs to the name
      {"/" + std::string(30, 'a') + "/f", "/" + std::string(30, 'a'), "f"},
  };
  for (const auto& c : cases) {
    const Parsed q = Parse(c.path.c_str());
    ASSERT_NE(q.rest, nullptr) << c.path;
    EXPECT_EQ(q.name, c.name) << c.path;
    EXPECT_STREQ(q.rest, c.rest.c_str()) << c.path;
  }
}

TEST(ParseDeviceName, RefusesNamesWithoutLeadingSlashOrTooLong) {
  const Parsed p = Parse("1/dir");
  EXPECT_EQ(p.rest, nullptr);
  EXPECT_EQ(p.output, "Invalid device name 1/dir\n");
  EXPECT_EQ(p.name, "");
  EXPECT_EQ(Parse(nullptr).output, "Invalid device name null\n");
  const std::string tooLong = "/" + std::string(31, 'a');
  const Parsed refused = Parse(tooLong.c_str());
  EXPECT_EQ(refused.rest, nullptr);
  EXPECT_EQ(refused.output, "Invalid device name " + tooLong + "\n");
  // The message shows at most 64 characters.
  const std::string path = "/" + std::string(100, 'b');
  EXPECT_EQ(Parse(path.c_str()).output, "Invalid device name " + path.substr(0, 64) + "\n");
}

TEST(DriveNumberFromName, ReadsTheDigitsAfterTheFirstCharacter) {
  EXPECT_EQ(DriveNumberFromName("/012"), 12);
  EXPECT_EQ(DriveNumberFromName("/12abc"), 12);
  EXPECT_EQ(DriveNumberFromName("/disk"), 0);
  EXPECT_EQ(DriveNumberFromName("/-5"), 0);
  EXPECT_EQ(DriveNumberFromName(nullptr), 0);
  EXPECT_EQ(DriveNumberFromName("/99999999999999999999"), INT32_MAX);
}

TEST(HostDiskPathForDrive, NamesDisksTheWayLinuxDoes) {
  EXPECT_EQ(HostDiskPathForDrive(0), "/dev/sda");
  EXPECT_EQ(HostDiskPathForDrive(25), "/dev/sdz");
  EXPECT_EQ(HostDiskPathForDrive(26), "/dev/sdaa");
  EXPECT_EQ(HostDiskPathForDrive(701), "/dev/sdzz");
  EXPECT_EQ(HostDiskPathForDrive(702), "/dev/sdaaa");
  EXPECT_EQ(HostDiskPathForDrive(-1), "");
}

}  // namespace
}  // namespace vrax
