#include "record_builder.h"

#include <algorithm>

#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/file_name.h"
#include "volume/format/fixup.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"

namespace vrax::mkfs {

NonResidentInstance WholeValue(const std::vector<ClusterRun>& runs, uint32_t dataSize,
                               uint32_t clusterSize) {
  NonResidentInstance value;
  value.runs = runs;
  uint32_t clusters = 0;
  for (const ClusterRun& run : runs) clusters += run.length;
  value.allocatedSize = clusters * clusterSize;
  value.dataSize = dataSize;
  value.lastVcn = dataSize == 0 ? 0 : (dataSize - 1) / clusterSize;
  return value;
}

uint32_t ResidentAttributeLength(uint32_t type, uint32_t nameLength, uint32_t valueLength) {
  return attr::kResidentHeader + 2 * nameLength + ResidentValueSpace(type, valueLength);
}

RecordBuilder::RecordBuilder(uint32_t recordSize, uint32_t bytesPerSector, uint16_t usn)
    : image_(recordSize) {
  BuildEmptyRecord(image_.data(), recordSize, bytesPerSector, usn);
}

void RecordBuilder::SetFlags(uint16_t flags) { SetRecordFlags(image_.data(), flags); }

void RecordBuilder::SetBaseRecord(uint32_t base) { SetRecordBaseReference(image_.data(), base); }

uint8_t* RecordBuilder::Append(uint32_t type, uint32_t length) {
  uint8_t* r = image_.data();
  const uint32_t inUse = RecordBytesInUse(r);
  const uint32_t at = inUse - record::kEndMarkerSize;  // the end marker's place
  if (static_cast<uint64_t>(inUse) + length > image_.size()) return nullptr;
  uint8_t* a = r + at;
  std::fill(a, a + length + record::kEndMarkerSize, 0);
  PutLE32(a + attr::kType, type);
  PutLE32(a + attr::kLength, length);
  PutLE32(a + length, record::kEndMarker);
  SetRecordBytesInUse(r, inUse + length);
  SetRecordAttributeCount(r, static_cast<uint16_t>(RecordAttributeCount(r) + 1));
  return a;
}

void RecordBuilder::WriteName(uint8_t* a, uint32_t offset, const std::string& name) {
  a[attr::kNameLength] = static_cast<uint8_t>(name.size());
  PutLE16(a + attr::kNameOffset, static_cast<uint16_t>(offset));
  for (size_t i = 0; i < name.size(); ++i) {
    PutLE16(a + offset + 2 * i, static_cast<uint8_t>(name[i]));
  }
}

bool RecordBuilder::AddResident(uint32_t type, const std::string& name,
                                const std::vector<uint8_t>& value) {
  if (name.size() > kMaxStoredNameLength || value.size() > 0xFFFF) return false;
  const uint32_t n = static_cast<uint32_t>(value.size());
  const uint32_t k = static_cast<uint32_t>(name.size());
  uint8_t* a = Append(type, ResidentAttributeLength(type, k, n));
  if (a == nullptr) return false;
  const uint32_t valueOffset = attr::kResidentHeader + 2 * k;
  if (k != 0) WriteName(a, attr::kResidentHeader, name);
  PutLE32(a + attr::kValueLength, n);
  PutLE16(a + attr::kValueOffset, static_cast<uint16_t>(valueOffset));
  std::copy(value.begin(), value.end(), a + valueOffset);
  return true;
}

bool RecordBuilder::AddNonResident(uint32_t type, const std::string& name,
                                   const NonResidentInstance& value) {
  if (name.size() > kMaxStoredNameLength) return false;
  const uint32_t k = static_cast<uint32_t>(name.size());
  const std::vector<uint8_t> runs = EncodeRunList(value.runs);
  const uint32_t runBytes = static_cast<uint32_t>(runs.size());
  uint8_t* a = Append(type, NonResidentAttributeLength(k, runBytes));
  if (a == nullptr) return false;
  const uint32_t runListOffset = NonResidentRunListOffset(k);
  a[attr::kNonResident] = 1;
  if (k != 0) WriteName(a, attr::kNonResidentHeader, name);
  SetAttrFirstVcn(a, value.firstVcn);
  SetAttrLastVcn(a, value.lastVcn);
  PutLE16(a + attr::kRunListOffset, static_cast<uint16_t>(runListOffset));
  SetAttrAllocatedSize(a, value.allocatedSize);
  SetAttrDataSize(a, value.dataSize);
  SetAttrInitializedSize(a, value.dataSize);
  std::copy(runs.begin(), runs.end(), a + runListOffset);
  return true;
}

std::vector<uint8_t> RecordBuilder::DiskImage() const {
  std::vector<uint8_t> disk = image_;
  // Cannot fail: the array was laid out by BuildEmptyRecord for this size.
  FixupBeforeWrite(disk.data(), static_cast<uint32_t>(disk.size()));
  return disk;
}

}  // namespace vrax::mkfs
