// Shared set-up of the block device tests: a temporary image, settings
// restored after each test, and devices that are always deleted.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "blockdev/block_device.h"
#include "fileio/drive_table.h"
#include "platform/settings.h"
#include "support/temp_file.h"

namespace vrax {

class DeviceTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kSector = 512;
  static constexpr uint32_t kSectors = 16;

  void SetUp() override { image_ = test::MakeImage(dir_, "disk.img", kSectors * kSector); }

  void TearDown() override {
    SetCurrentDrive(nullptr);
    for (BlockDevice* device : devices_) DeleteDevice(device);
    g_debug = savedDebug_;
    g_noBuffering = savedNoBuffering_;
  }

  // Creates a device on `path` (the test image by default), keeping what it
  // printed in `output_`; the fixture deletes it.
  BlockDevice* Create(const char* name, bool writable, int32_t& error,
                      const std::string& path = std::string()) {
    ::testing::internal::CaptureStderr();
    BlockDevice* device = CreateDevice(name, writable, error, path.empty() ? image_ : path);
    output_ = ::testing::internal::GetCapturedStderr();
    if (device != nullptr) devices_.push_back(device);
    return device;
  }

  BlockDevice* Open(const char* name = "/1", bool writable = true) {
    int32_t error = -7;
    BlockDevice* device = Create(name, writable, error);
    EXPECT_NE(device, nullptr) << output_;
    EXPECT_EQ(error, 0);
    return device;
  }

  void Forget(BlockDevice* device) { std::erase(devices_, device); }

  std::vector<uint8_t> ImageBytes() const { return test::ReadFileBytes(image_); }

  test::TempDir dir_;
  std::string image_;
  std::string output_;
  std::vector<BlockDevice*> devices_;
  int savedDebug_ = g_debug;
  int savedNoBuffering_ = g_noBuffering;
};

}  // namespace vrax
