// The MFT: where every record lies and which records are in use.
//
// Record 0 is read directly at the boot sector's MFT LCN; its AT_DATA
// (together with the instances in record 0's own extension records) maps
// every record n to bytes n x record size of that value, and its AT_BITMAP
// marks the records in use.
#pragma once

#include <cstdint>
#include <vector>

#include "attribute_value.h"
#include "geometry.h"
#include "image_reader.h"
#include "report.h"

namespace vrax::fsck {

enum class ReadStatus { kOk, kUnreadable, kBadMagic, kBadFixup };

class Mft {
 public:
  Mft(const ImageReader& image, const Geometry& geometry) : image_(image), geometry_(geometry) {}

  // Reads record 0, maps the MFT and reads its bitmap. False, after
  // reporting why, when record 0 cannot be read or names no usable data:
  // then no record can be found. Other problems (sizes, a missing or short
  // bitmap) are reported and the result is true.
  bool Open(Report& report);

  // Record n with its fix-ups applied; `image` gets record size bytes.
  ReadStatus ReadRecord(uint32_t n, std::vector<uint8_t>& image) const;

  uint32_t records() const { return records_; }  // records held
  // True when the MFT bitmap marks record n in use.
  bool InUse(uint64_t n) const {
    return n / 8 < bitmap_.size() && (bitmap_[n / 8] >> (n % 8) & 1) != 0;
  }

 private:
  bool ReadRecordZero(Report& report, Chain& chain);
  void MapRecords(const Chain& chain, Report& report);
  void ReadBitmap(const Chain& chain, Report& report);

  const ImageReader& image_;
  const Geometry& geometry_;
  AttributeValue data_;
  uint32_t records_ = 0;
  std::vector<uint8_t> bitmap_;
};

}  // namespace vrax::fsck
