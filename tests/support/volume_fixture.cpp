#include "support/volume_fixture.h"

#include <cstring>

#include "blockdev/drive_table.h"
#include "volume/format/bytes.h"
#include "volume/index/index.h"

namespace vrax::test {

void VolumeTest::ExpectClean() {
  const CheckerResult result = RunChecker(image_);
  EXPECT_EQ(result.exitCode, 0) << result.output;
}

void VolumeTest::FormatAndMount(const std::string& arguments, bool writable) {
  Unmount();
  image_ = dir_.File("volume.img");
  ASSERT_EQ(FormatVolume(image_, arguments), 0) << arguments;
  Mount(image_, writable);
}

void VolumeTest::Mount(const std::string& image, bool writable) {
  Unmount();
  int32_t error = -1;
  ::testing::internal::CaptureStderr();
  device_ = CreateDevice("/1", writable, error, image);
  ::testing::internal::GetCapturedStderr();
  ASSERT_NE(device_, nullptr) << "error " << error;
  SetCurrentDrive(device_);
}

void VolumeTest::Unmount() {
  if (device_ == nullptr) return;
  SetCurrentDrive(nullptr);
  DeleteDevice(device_);
  device_ = nullptr;
}

Toolkit* VolumeTest::Open(const std::string& path) {
  Toolkit* t = nullptr;
  EXPECT_EQ(ToolkitOpen(t, path.c_str()), 0) << path;
  return t;
}

int32_t VolumeTest::OpenResult(const std::string& path) {
  Toolkit* t = nullptr;
  const int32_t error = ToolkitOpen(t, path.c_str());
  ToolkitClose(t);
  return error;
}

std::vector<std::pair<std::string, uint32_t>> ListEntries(const std::string& path,
                                                          uint32_t offset, int32_t* error) {
  std::vector<std::pair<std::string, uint32_t>> names;
  Toolkit* t = nullptr;
  int32_t failed = ToolkitOpen(t, path.c_str());
  std::vector<uint8_t> buffer(4096);
  while (failed == 0) {
    uint32_t delivered = 0;
    failed = ReadDirectory(t, offset, 4096, buffer.data(), delivered);
    for (uint32_t i = 0; i + kDirRecordSize <= delivered; i += kDirRecordSize) {
      const char* name = reinterpret_cast<const char*>(buffer.data() + i);
      names.emplace_back(std::string(name, strnlen(name, kDirRecordNameSize)),
                         GetLE32(buffer.data() + i + kDirRecordNameSize));
    }
    if (delivered < 4096) break;
    offset += delivered;
  }
  ToolkitClose(t);
  if (error != nullptr) *error = failed;
  return names;
}

std::vector<std::pair<std::string, uint32_t>> VolumeTest::List(const std::string& path,
                                                               uint32_t offset) {
  int32_t error = 0;
  auto names = ListEntries(path, offset, &error);
  EXPECT_EQ(error, 0) << path;
  return names;
}

}  // namespace vrax::test
