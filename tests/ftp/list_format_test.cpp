#include "ftp/list_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace vrax::ftp {
namespace {

// Listings show local time; the tests fix the zone to UTC (each test runs in
// its own process).
class ListFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

// 2024-03-15 12:00:00 UTC.
constexpr int64_t kNow = 1710504000;
constexpr int64_t kDay = 86400;

ListEntry File(std::string name, int64_t size, int64_t modified) {
  return {.size = size, .modified = modified, .name = std::move(name)};
}

// Times within 180 days before now (and any future time) show the time of
// day; older ones show the year.
TEST_F(ListFormat, TheTimeOfDayOrTheYear) {
  // 10 days before: 2024-03-05 09:07.
  EXPECT_EQ(FormatLongLine(File("a.txt", 1234, kNow - 10 * kDay - (2 * 3600 + 53 * 60)), kNow),
            "-rwx------ 1 user group           1234 Mar  5 09:07 a.txt\r\n");
  EXPECT_EQ(FormatLongLine(File("old.bin", 7, kNow - 200 * kDay), kNow),
            "-rwx------ 1 user group              7 Aug 28  2023 old.bin\r\n");
  const std::string at = FormatLongLine(File("f", 0, kNow - 15552000), kNow);
  const std::string past = FormatLongLine(File("f", 0, kNow - 15552001), kNow);
  EXPECT_NE(at.find(" 12:00 f"), std::string::npos) << at;
  EXPECT_NE(past.find("  2023 f"), std::string::npos) << past;
  const std::string future = FormatLongLine(File("f", 0, kNow + 400 * kDay), kNow);
  EXPECT_NE(future.find("Apr 19 12:00 f"), std::string::npos) << future;
}

TEST_F(ListFormat, DirectoriesSuffixAndLargeSizes) {
  EXPECT_EQ(FormatLongLine({.directory = true, .name = "docs", .slash = true}, kNow),
            "drwx------ 1 user group              0 Jan  1  1970 docs/\r\n");
  const std::string line = FormatLongLine(File("big", 123456789012345LL, kNow), kNow);
  EXPECT_NE(line.find(" group 123456789012345 Mar"), std::string::npos) << line;
}

TEST(ListOptions, OptionsStandInFront) {
  const struct {
    const char* text;
    bool classify, directoryItself;
    const char* path;
  } cases[] = {
      {"-la docs", false, false, "docs"}, {"-F -d  /x y", true, true, "/x y"}, {"-Fd", true, true, ""},
      {"docs -F", false, false, "docs -F"}, {"", false, false, ""},
  };
  for (const auto& c : cases) {
    const ListOptions o = ParseListOptions(c.text);
    EXPECT_EQ(o.classify, c.classify) << c.text;
    EXPECT_EQ(o.directoryItself, c.directoryItself) << c.text;
    EXPECT_EQ(o.path, c.path) << c.text;
  }
}

}  // namespace
}  // namespace vrax::ftp
