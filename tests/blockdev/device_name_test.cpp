#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "blockdev/attachment.h"
#include "blockdev/block_device.h"

namespace vrax {
namespace {

// The device name is the leading "/" and up to 30 more characters before
// the next slash; the rest follows that one slash. Anything else is
// refused with a line showing at most 64 characters of the path.
TEST(ParseDeviceName, SplitsTheDeviceFromTheRestOrRefuses) {
  const std::string longest = "/" + std::string(30, 'a');
  const std::string longestPath = longest + "/f";
  const std::string tooLong = "/" + std::string(31, 'a');
  const std::string huge = "/" + std::string(100, 'b');
  const struct {
    const char* path;
    std::string name;
    const char* rest;  // null when refused
    std::string output;
  } cases[] = {
      {"/1/dir/file", "/1", "dir/file", ""},
      {"/1/", "/1", "", ""},
      {"/1//x", "/1", "/x", ""},
      {longestPath.c_str(), longest, "f", ""},
      {nullptr, "", nullptr, "Invalid device name null\n"},
      {tooLong.c_str(), "", nullptr, "Invalid device name " + tooLong + "\n"},
      {huge.c_str(), "", nullptr, "Invalid device name " + huge.substr(0, 64) + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path != nullptr ? c.path : "null");
    char name[kDeviceNameSize];
    std::memset(name, 'x', sizeof name);
    ::testing::internal::CaptureStderr();
    const char* rest = ParseDeviceName(c.path, name);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.output);
    EXPECT_EQ(std::string(name), c.name);
    if (c.rest == nullptr) {
      EXPECT_EQ(rest, nullptr);
      continue;
    }
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rest, c.path + std::strlen(c.path) - std::strlen(c.rest));  // points into the path
    EXPECT_STREQ(rest, c.rest);
  }
}

TEST(DriveNumberFromName, ReadsTheDigitsAfterTheFirstCharacter) {
  EXPECT_EQ(DriveNumberFromName("/012abc"), 12);
  EXPECT_EQ(DriveNumberFromName("/-5"), 0);
  EXPECT_EQ(DriveNumberFromName(nullptr), 0);
  EXPECT_EQ(DriveNumberFromName("/99999999999999999999"), INT32_MAX);
}

TEST(HostDiskPathForDrive, NamesDisksTheWayLinuxDoes) {
  EXPECT_EQ(HostDiskPathForDrive(25), "/dev/sdz");
  EXPECT_EQ(HostDiskPathForDrive(26), "/dev/sdaa");
  EXPECT_EQ(HostDiskPathForDrive(702), "/dev/sdaaa");
  EXPECT_EQ(HostDiskPathForDrive(-1), "");
}

}  // namespace
}  // namespace vrax
