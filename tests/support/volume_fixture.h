// Images formatted by the real vrax-mkfs, mounted through the device layer
// as drive "/1".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "blockdev/block_device.h"
#include "platform/settings.h"
#include "support/temp_file.h"
#include "support/tool_runs.h"
#include "volume/toolkit/toolkit.h"

namespace vrax::test {

// What `f` writes to standard output.
template <typename F>
std::string CapturedStdout(F&& f) {
  ::testing::internal::CaptureStdout();
  f();
  return ::testing::internal::GetCapturedStdout();
}

// Names and record numbers ReadDirectory gives for `path` from `offset`
// (64: past "..", "."), up to a failure, whose error goes to `error`.
std::vector<std::pair<std::string, uint32_t>> ListEntries(const std::string& path,
                                                          uint32_t offset = 64,
                                                          int32_t* error = nullptr);

class VolumeTest : public ::testing::Test {
 protected:
  // The images are thrown away: writes need not wait for stable storage.
  void SetUp() override { g_writeThrough = 0; }
  void TearDown() override {
    Unmount();
    g_writeThrough = 1;
  }

  // Formats a fresh image (mkfs arguments, --size included) and mounts it.
  void FormatAndMount(const std::string& arguments, bool writable = true);
  void Mount(const std::string& image, bool writable = true);
  void Unmount();

  Toolkit* Open(const std::string& path);
  // ToolkitOpen's result for `path` (the Toolkit is closed again).
  int32_t OpenResult(const std::string& path);

  void ExpectClean();

  // ListEntries, expecting no error.
  std::vector<std::pair<std::string, uint32_t>> List(const std::string& path,
                                                     uint32_t offset = 64);

  TempDir dir_;
  std::string image_;
  BlockDevice* device_ = nullptr;
};

}  // namespace vrax::test
