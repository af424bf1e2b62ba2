// Running vrax-mkfs and reading back what it wrote, for the formatter's
// tests. Everything is decoded with the volume format codecs, the way the
// engine reads a volume: boot sector, record 0 at the MFT's LCN, every other
// record through record 0's run list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/format/boot_sector.h"

namespace vrax::mkfs_test {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// `length` bytes of a file from `offset` (fewer at its end).
std::vector<uint8_t> ReadRange(const std::string& path, uint64_t offset, size_t length);
// The whole file, read in one piece.
std::vector<uint8_t> WholeFile(const std::string& path);

// Runs the built vrax-mkfs with `args`; its output is captured in `scratch`
// (a directory).
ToolRun RunMkfs(const std::vector<std::string>& args, const std::string& scratch);

struct Extent {
  uint32_t lcn = 0;
  uint32_t length = 0;
};

class FormattedImage {
 public:
  explicit FormattedImage(const std::string& path);

  const BootSector& boot() const { return boot_; }
  uint32_t clusterSize() const { return clusterSize_; }
  uint32_t recordSize() const { return recordSize_; }
  uint32_t clusterCount() const { return clusterCount_; }
  uint32_t recordsHeld() const { return recordsHeld_; }

  // Record n with its fix-ups undone; false when the magic or a fix-up is
  // wrong (the image is then left as stored).
  bool Record(uint32_t n, std::vector<uint8_t>& image) const;

  // The value of the first attribute of `type` in `record`, resident or not.
  std::vector<uint8_t> Value(std::vector<uint8_t>& record, uint32_t type) const;

  // The runs of a non-resident attribute header.
  static std::vector<Extent> Runs(const uint8_t* attribute);

 private:
  std::vector<uint8_t> ReadRuns(const uint8_t* attribute, uint32_t bytes) const;

  std::string path_;
  BootSector boot_;
  uint32_t clusterSize_ = 0;
  uint32_t recordSize_ = 0;
  uint32_t clusterCount_ = 0;
  uint32_t recordsHeld_ = 0;
  std::vector<uint8_t> mftRecord_;
  std::vector<uint8_t> records_;  // the MFT's whole value
};

// Every attribute of a record, in record order.
std::vector<uint8_t*> Attributes(std::vector<uint8_t>& record);

}  // namespace vrax::mkfs_test
