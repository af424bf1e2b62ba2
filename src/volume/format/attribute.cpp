#include "volume/format/attribute.h"

#include <cstring>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"

namespace vrax {

void WriteNonResidentHeader(const uint8_t* like, uint8_t* out, uint32_t length) {
  const uint32_t nameLength = AttrNameLength(like);
  std::memset(out, 0, length);
  std::memcpy(out, like, 16);
  out[attr::kNonResident] = 1;
  PutLE32(out + attr::kLength, length);
  out[attr::kNameOffset] = attr::kNonResidentHeader;
  PutLE16(out + attr::kRunListOffset, static_cast<uint16_t>(NonResidentRunListOffset(nameLength)));
  if (nameLength != 0) {
    std::memcpy(out + attr::kNonResidentHeader, like + AttrNameOffset(like), 2 * nameLength);
  }
}

uint32_t ResidentValueSpace(uint32_t type, uint32_t n) {
  if (type == AT_DATA) return (n + 16) & ~15u;
  return (n + 1) & ~1u;
}

AttributeWalk::AttributeWalk(uint8_t* image, uint32_t recordSize)
    : image_(image), size_(recordSize), offset_(0), stepsLeft_(0) {
  if (size_ < record::kHeaderSize) {
    malformed_ = true;
    return;
  }
  offset_ = RecordFirstAttribute(image_);
  stepsLeft_ = static_cast<uint32_t>(RecordAttributeCount(image_)) + 1;
}

uint8_t* AttributeWalk::Next() {
  if (malformed_ || stepsLeft_ == 0) return nullptr;
  --stepsLeft_;
  if (!InBounds(offset_, 4, size_)) {
    malformed_ = true;
    return nullptr;
  }
  uint8_t* a = image_ + offset_;
  if (AttrType(a) == record::kEndMarker) {
    endMarker_ = offset_;
    stepsLeft_ = 0;
    return nullptr;
  }
  if (!InBounds(offset_, attr::kResidentHeader, size_)) {
    malformed_ = true;
    return nullptr;
  }
  const uint32_t length = AttrLength(a);
  if (length < attr::kResidentHeader || !InBounds(offset_, length, size_)) {
    malformed_ = true;
    return nullptr;
  }
  offset_ += length;
  return a;
}

namespace {

bool RunListIsSound(const uint8_t* a, uint32_t clusterCount) {
  const uint32_t length = AttrLength(a);
  const uint32_t offset = AttrRunListOffset(a);
  if (offset >= length) return false;
  const uint8_t* list = a + offset;
  const uint32_t size = length - offset;
  uint32_t pos = 0, p = 0;
  DecodedRun run;
  for (;;) {
    const RunStatus status = DecodeRun(list, size, pos, run);
    if (status == RunStatus::kEnd) return true;
    if (status == RunStatus::kMalformed) return false;
    uint32_t lcn = 0;
    if (!AdvanceRun(run, p, lcn)) return false;
    if (clusterCount != 0 && static_cast<uint64_t>(lcn) + run.length > clusterCount) return false;
  }
}

}  // namespace

bool AttributeIsSound(const uint8_t* a, uint32_t clusterCount) {
  const uint32_t length = AttrLength(a);
  if (length < attr::kResidentHeader) return false;
  if (a[attr::kNonResident] > 1) return false;
  if (AttrNameLength(a) != 0 &&
      !InBounds(AttrNameOffset(a), 2u * AttrNameLength(a), length)) {
    return false;
  }
  if (!AttrIsNonResident(a)) {
    return InBounds(AttrValueOffset(a), AttrValueLength(a), length) &&
           AttrValueOffset(a) >= attr::kResidentHeader;
  }
  if (length < attr::kNonResidentHeader) return false;
  if (AttrRunListOffset(a) < attr::kNonResidentHeader) return false;
  return RunListIsSound(a, clusterCount);
}

int32_t ValidateRecord(const uint8_t* image, uint32_t recordSize, uint32_t clusterCount) {
  if (recordSize < record::kHeaderSize + record::kEndMarkerSize) return Corruption();
  const uint32_t inUse = RecordBytesInUse(image);
  const uint32_t allocated = RecordBytesAllocated(image);
  if (allocated > recordSize || inUse > allocated) return Corruption();
  if (RecordFirstAttribute(image) < record::kHeaderSize) return Corruption();
  // The walk only reads; the cast lets one walker serve readers and writers.
  AttributeWalk walk(const_cast<uint8_t*>(image), recordSize);
  while (const uint8_t* a = walk.Next()) {
    if (!AttributeIsSound(a, clusterCount)) return Corruption();
  }
  if (walk.malformed()) return Corruption();
  if (walk.endMarkerOffset() != 0 &&
      walk.endMarkerOffset() + record::kEndMarkerSize > inUse) {
    return Corruption();
  }
  return kOk;
}

uint8_t* FindAttributeInRecord(uint8_t* image, uint32_t recordSize, uint32_t type) {
  AttributeWalk walk(image, recordSize);
  while (uint8_t* a = walk.Next()) {
    if (AttrType(a) == type) return a;
  }
  if (type == record::kEndMarker && walk.endMarkerOffset() != 0) {
    return image + walk.endMarkerOffset();
  }
  return nullptr;
}

}  // namespace vrax
