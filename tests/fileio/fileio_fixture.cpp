#include "fileio_fixture.h"

#include <cstring>

#include "platform/settings.h"
#include "volume/attributes/attributes.h"
#include "volume/format/descriptor.h"
#include "volume/toolkit/toolkit.h"

namespace vrax::test {

void FileioTest::SetUp() {
  savedWriteThrough_ = g_writeThrough;
  g_writeThrough = 0;
}

void FileioTest::TearDown() {
  Unmount();
  g_writeThrough = savedWriteThrough_;
}

void FileioTest::FormatAndMount(const std::string& arguments, bool writable) {
  Unmount();
  image_ = dir_.File("volume.img");
  ASSERT_EQ(FormatVolume(image_, arguments), 0) << arguments;
  Mount(writable);
}

void FileioTest::Mount(bool writable) {
  Unmount();
  CapturedStderr([&] { volume_ = std::make_unique<VraxInterface>("/1", writable, image_); });
  ASSERT_TRUE(volume_->mounted());
}

void FileioTest::Unmount() { volume_.reset(); }

void FileioTest::ExpectClean() {
  const CheckerResult result = RunChecker(image_);
  EXPECT_EQ(result.exitCode, 0) << result.output;
}

void FileioTest::WriteFile(const std::string& path, const std::vector<uint8_t>& bytes,
                           const char* mode) {
  VRAX_FILE* file = VRAX_fopen64(path.c_str(), mode);
  ASSERT_NE(file, nullptr) << path;
  if (!bytes.empty()) {
    EXPECT_EQ(VRAX_fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  }
  EXPECT_EQ(VRAX_fclose(file), 0);
}

std::vector<uint8_t> FileioTest::ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  VRAX_FILE* file = VRAX_fopen64(path.c_str(), "rb");
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return bytes;
  std::vector<uint8_t> piece(1 << 20);
  for (size_t n; (n = VRAX_fread(piece.data(), 1, piece.size(), file)) > 0;) {
    bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<ptrdiff_t>(n));
  }
  VRAX_fclose(file);
  return bytes;
}

std::vector<std::string> FileioTest::Names(const std::string& pattern) {
  std::vector<std::string> names;
  VraxFindData data;
  VRAX_FIND* find = VRAX_FindFirstFile(pattern.c_str(), &data);
  if (find == kInvalidFind) return names;
  do {
    names.emplace_back(data.cFileName);
  } while (VRAX_FindNextFile(find, &data) != 0);
  VRAX_FindClose(find);
  return names;
}

struct stat FileioTest::Stat(const std::string& path) {
  struct stat record {};
  EXPECT_EQ(VRAX_stat64(path.c_str(), &record), 0) << path;
  return record;
}

void FileioTest::PatchDescriptor(const std::string& path, size_t at,
                                 const std::vector<uint8_t>& bytes) {
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitOpen(t, path.c_str()), 0) << path;
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

std::time_t AsStored(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return StandardTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min);
}

std::vector<uint8_t> ReadAt(VRAX_FILE* file, uint64_t position, size_t count) {
  std::vector<uint8_t> bytes(count);
  EXPECT_EQ(VRAX_fseeko64(file, static_cast<int64_t>(position), SEEK_SET), 0);
  bytes.resize(VRAX_fread(bytes.data(), 1, count, file));
  return bytes;
}

}  // namespace vrax::test
