#include "mft.h"

#include <algorithm>

#include "chain.h"
#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/fixup.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

// A record bitmap longer than this is not read past it: the records it
// could describe would not fit any volume of 32-bit clusters anyway.
constexpr uint32_t kMaxBitmapRead = 64u << 20;

ReadStatus FinishRecord(std::vector<uint8_t>& image) {
  if (!HasRecordMagic(image.data())) return ReadStatus::kBadMagic;
  if (FixupAfterRead(image.data(), static_cast<uint32_t>(image.size())) != kOk) {
    return ReadStatus::kBadFixup;
  }
  return ReadStatus::kOk;
}

uint64_t FirstSetBitFrom(const std::vector<uint8_t>& bits, uint64_t from, uint64_t& count) {
  uint64_t first = 0;
  count = 0;
  for (uint64_t k = from; k < bits.size() * 8ull; ++k) {
    if ((bits[k / 8] >> (k % 8) & 1) == 0) continue;
    if (count++ == 0) first = k;
  }
  return first;
}

}  // namespace

ReadStatus Mft::ReadRecord(uint32_t n, std::vector<uint8_t>& image) const {
  image.assign(geometry_.recordSize, 0);
  const uint64_t offset = static_cast<uint64_t>(n) * geometry_.recordSize;
  if (!ReadValue(image_, geometry_, data_, offset, image.data(), image.size())) {
    return ReadStatus::kUnreadable;
  }
  return FinishRecord(image);
}

bool Mft::ReadRecordZero(Report& report, Chain& chain) {
  ChainRecord zero;
  zero.image.assign(geometry_.recordSize, 0);
  const uint32_t lcn = geometry_.mftLcn;
  if (!image_.Read(geometry_.ClusterOffset(lcn), zero.image.data(), zero.image.size())) {
    report.Problem(Format("MFT: record 0 cannot be read at LCN %u", lcn));
    return false;
  }
  switch (FinishRecord(zero.image)) {
    case ReadStatus::kBadMagic:
      report.Problem(Format("MFT: record 0 at LCN %u has no FILE magic", lcn));
      return false;
    case ReadStatus::kBadFixup:
      report.Problem(Format("MFT: record 0 at LCN %u fails its update sequence check", lcn));
      return false;
    default:
      break;
  }
  zero.parsed = ParseRecord(zero.image.data(), geometry_);
  chain.push_back(std::move(zero));
  data_ = FindValue(chain, AT_DATA);
  if (!data_.present || !data_.nonResident || data_.runs.empty()) {
    report.Problem("MFT: record 0 has no usable data attribute");
    return false;
  }
  return true;
}

void Mft::MapRecords(const Chain& chain, Report& report) {
  data_ = FindValue(chain, AT_DATA);
  records_ = data_.length / geometry_.recordSize;
  if (data_.length % geometry_.recordSize != 0) {
    report.Problem(Format("MFT: data size %u is not a whole number of %u-byte records",
                          data_.length, geometry_.recordSize));
  }
  // Records are distinct bytes of the image, so no more of them can be read
  // than the image has room for; a data size claiming more would only make
  // the checker's tables (one entry per record) grow without purpose.
  const uint64_t room = image_.size() / geometry_.recordSize;
  if (records_ > room) {
    report.Problem(
        Format("MFT: data size %u claims %u records, but the image has room for %llu; "
               "records past them are not checked",
               data_.length, records_, static_cast<unsigned long long>(room)));
    records_ = static_cast<uint32_t>(room);
  }
  if (data_.runs.empty() || data_.runs.front().vcn != 0 ||
      data_.runs.front().lcn != geometry_.mftLcn) {
    report.Problem(Format("MFT: record 0's data does not begin at the boot sector's MFT LCN %u",
                          geometry_.mftLcn));
  }
}

void Mft::ReadBitmap(const Chain& chain, Report& report) {
  const AttributeValue bitmap = FindValue(chain, AT_BITMAP);
  if (!bitmap.present) {
    report.Problem("MFT: record 0 has no record bitmap");
    return;
  }
  const uint32_t expected = records_ / 8;
  if (bitmap.length != expected) {
    report.Problem(Format("MFT: record bitmap is %u bytes, expected %u for %u records",
                          bitmap.length, expected, records_));
  }
  bitmap_.assign(std::min(bitmap.length, kMaxBitmapRead), 0);
  if (!ReadValue(image_, geometry_, bitmap, 0, bitmap_.data(), bitmap_.size())) {
    report.Problem("MFT: record bitmap cannot be read");
    bitmap_.clear();
    return;
  }
  uint64_t beyond = 0;
  const uint64_t first = FirstSetBitFrom(bitmap_, records_, beyond);
  if (beyond != 0) {
    report.Problem(Format(
        "MFT: record bitmap marks %llu records in use beyond the %u records "
        "held (first: %llu)",
        static_cast<unsigned long long>(beyond), records_, static_cast<unsigned long long>(first)));
  }
}

bool Mft::Open(Report& report) {
  Chain chain;
  if (!ReadRecordZero(report, chain)) return false;
  // Record 0's own instances map enough of the MFT to reach its extension
  // records; the whole chain then gives the complete map.
  records_ = data_.length / geometry_.recordSize;
  Chain full;
  if (LoadChain(*this, geometry_, record::kMft, full) && !full.empty()) chain = std::move(full);
  MapRecords(chain, report);
  ReadBitmap(chain, report);
  return true;
}

}  // namespace vrax::fsck
