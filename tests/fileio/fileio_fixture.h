// Volumes for the file interface tests: images formatted by the real
// vrax-mkfs, mounted through the interface's own mount object as drive
// "/1", and checked with the real vrax-fsck.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "fileio/vrax_io.h"
#include "support/temp_file.h"
#include "support/volume_fixture.h"

namespace vrax::test {

// Standard error printed while `f` runs.
template <typename F>
std::string CapturedStderr(F&& f) {
  ::testing::internal::CaptureStderr();
  f();
  return ::testing::internal::GetCapturedStderr();
}

class FileioTest : public ::testing::Test {
 protected:
  // The images are thrown away after each test: writes need not wait for
  // stable storage.
  void SetUp() override;
  void TearDown() override;

  // Formats volume.img (arguments include --size) and mounts it.
  void FormatAndMount(const std::string& arguments, bool writable = true);
  // Mounts image_ through VraxInterface; the device's open report is
  // captured away.
  void Mount(bool writable = true);
  void Unmount();
  // Runs vrax-fsck on the image and expects it clean.
  void ExpectClean();

  // Whole files through the interface, expecting success.
  void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes,
                 const char* mode = "wb");
  std::vector<uint8_t> ReadFile(const std::string& path);
  // The names of a find-first / find-next walk; empty when find-first fails.
  std::vector<std::string> Names(const std::string& pattern);
  struct stat Stat(const std::string& path);
  // Replaces bytes of the descriptor of the entry at `path`, through the
  // volume core (test set-up for what the interface cannot write).
  void PatchDescriptor(const std::string& path, size_t at, const std::vector<uint8_t>& bytes);

  TempDir dir_;
  std::string image_;
  std::unique_ptr<VraxInterface> volume_;

 private:
  int savedWriteThrough_ = 1;
};

// What VRAX_stat64 shows for a stamp written from `when`: its local
// wall-clock time to the minute, read back as standard time.
std::time_t AsStored(std::time_t when);
// The same for a stamp holding these local wall-clock fields.
std::time_t StandardTime(int year, int month, int day, int hour, int minute);

// `count` bytes of a file handle's reads from `position`.
std::vector<uint8_t> ReadAt(VRAX_FILE* file, uint64_t position, size_t count);

}  // namespace vrax::test
