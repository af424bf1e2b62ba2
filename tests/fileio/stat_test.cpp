// What VRAX_stat64 reports for files, directories and missing paths.
#include <cstring>
#include <ctime>
#include <string>

#include "fileio_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/format/descriptor.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {
namespace {

class StatTest : public test::FileioTest {
 protected:
  // Replaces bytes of a descriptor (test set-up through the volume core).
  void PatchDescriptor(const std::string& path, size_t at, std::vector<uint8_t> bytes) {
    Toolkit* t = nullptr;
    ASSERT_EQ(ToolkitOpen(t, path.c_str()), 0);
    uint8_t descriptor[kDescriptorSize] = {};
    ASSERT_EQ(ReadDescriptor(t, descriptor), 0);
    std::memcpy(descriptor + at, bytes.data(), bytes.size());
    uint32_t done = 0;
    ASSERT_EQ(AttributeTransfer(t, AT_OSK_FILEDES, t->fileChain, descriptor, kDescriptorSize, 0,
                                done, kTransferWrite),
              0);
    ASSERT_EQ(WriteChain(t, t->fileChain), 0);
    ToolkitClose(t);
  }

  void DropDescriptor(const std::string& path) {
    Toolkit* t = nullptr;
    ASSERT_EQ(ToolkitOpen(t, path.c_str()), 0);
    ASSERT_EQ(SetAttributeSize(t, t->fileChain, AT_OSK_FILEDES, 0), 0);
    ASSERT_EQ(WriteChain(t, t->fileChain), 0);
    ToolkitClose(t);
  }
};

// Local wall-clock fields read back as standard time, to the minute.
std::time_t StandardTime(int year, int month, int day, int hour, int minute) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = 0;
  return std::mktime(&local);
}

std::time_t NowAsAStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return StandardTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min);
}

TEST_F(StatTest, AFileShowsItsTypeSizeAndTimes) {
  FormatAndMount("--size 8M");
  const std::time_t before = NowAsAStamp();
  WriteFile("/1/f", std::vector<uint8_t>(12345, 1));
  const std::time_t after = NowAsAStamp();
  const struct stat record = Stat("/1/f");
  EXPECT_EQ(record.st_mode, static_cast<mode_t>(S_IFREG));
  EXPECT_EQ(record.st_size, 12345);
  EXPECT_GE(record.st_mtime, before);
  EXPECT_LE(record.st_mtime, after);
  EXPECT_EQ(record.st_atime, record.st_mtime);
  EXPECT_EQ(record.st_ctime % 60, 0);
  EXPECT_LE(record.st_ctime, record.st_mtime);
  EXPECT_GT(record.st_ctime, record.st_mtime - 24 * 3600);
  EXPECT_EQ(record.st_nlink, 0u);
  EXPECT_EQ(record.st_uid, 0u);
  WriteFile("/1/f", std::vector<uint8_t>(3, 2));  // truncated by the rewrite
  EXPECT_EQ(Stat("/1/f").st_size, 3);
  Unmount();
  ExpectClean();
}

TEST_F(StatTest, DirectoriesShowTheirTypeAndTheFixedSize) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  struct stat record = Stat("/1/d");
  EXPECT_EQ(record.st_mode, static_cast<mode_t>(S_IFDIR));
  EXPECT_EQ(record.st_size, 32768);
  EXPECT_NE(record.st_mtime, 0);
  record = Stat("/1");
  EXPECT_EQ(record.st_mode, static_cast<mode_t>(S_IFDIR));
  EXPECT_EQ(record.st_size, 32768);
  EXPECT_EQ(Stat("/1/d/..").st_mode, static_cast<mode_t>(S_IFDIR));
}

TEST_F(StatTest, AMissingPathGivesItsErrorAndAZeroedRecord) {
  FormatAndMount("--size 8M");
  struct stat record;
  std::memset(&record, 0xA5, sizeof record);
  std::string err = test::CapturedStderr([&] { EXPECT_EQ(VRAX_stat64("/1/none", &record), 3); });
  EXPECT_EQ(err, "");
  EXPECT_EQ(record.st_mode, 0u);
  EXPECT_EQ(record.st_size, 0);
  EXPECT_EQ(record.st_mtime, 0);
  WriteFile("/1/f", {});
  err = test::CapturedStderr([&] { EXPECT_EQ(VRAX_stat64("/1/f/x", &record), 3); });
  EXPECT_EQ(err, "");
  EXPECT_EQ(VRAX_stat64("/1/f", nullptr), 87);
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
  DropDescriptor("/1/g");
  record = Stat("/1/g");
  EXPECT_EQ(record.st_mode, static_cast<mode_t>(S_IFREG));
  EXPECT_EQ(record.st_size, 100);
  EXPECT_EQ(record.st_mtime + record.st_atime + record.st_ctime, 0);
}

}  // namespace
}  // namespace vrax
