#include "node_records.h"

#include <vector>

#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/file_name.h"
#include "volume/format/index_node.h"
#include "volume/format/new_node.h"
#include "volume/format/record.h"

namespace vrax::mkfs {

namespace {

std::vector<uint8_t> StandardInformationValue() {
  std::vector<uint8_t> value(kStandardInformationSize);
  BuildStandardInformation(value.data());
  return value;
}

std::vector<uint8_t> FileNameValue(uint32_t parent, const std::string& name) {
  const uint32_t n = static_cast<uint32_t>(name.size());
  std::vector<uint8_t> value(FileNameValueSize(n));
  EncodeFileName(value.data(), parent, name.data(), n);
  return value;
}

std::vector<uint8_t> DescriptorValue(const Descriptor& descriptor) {
  std::vector<uint8_t> value(kDescriptorSize);
  EncodeDescriptor(descriptor, value.data());
  return value;
}

}  // namespace

Stamp LocalStamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return Stamp{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
}

bool AddNameAttributes(RecordBuilder& record, uint32_t parent, const std::string& name) {
  if (name.size() > kMaxStoredNameLength) return false;
  return record.AddResident(AT_STANDARD_INFORMATION, "", StandardInformationValue()) &&
         record.AddResident(AT_FILE_NAME, "", FileNameValue(parent, name));
}

bool AddNodeAttributes(RecordBuilder& record, uint32_t parent, const std::string& name,
                       const Descriptor& descriptor) {
  return AddNameAttributes(record, parent, name) &&
         record.AddResident(AT_SECURITY_DESCRIPTOR, "", {}) &&
         record.AddResident(AT_OSK_FILEDES, "", DescriptorValue(descriptor));
}

bool AddEmptyIndex(RecordBuilder& record) {
  std::vector<uint8_t> root(ie::kNewRootSize);
  BuildEmptyRoot(root.data());
  const uint16_t flags = RecordFlags(record.image().data());
  record.SetFlags(static_cast<uint16_t>(flags | record::kFlagDirectory));
  return record.AddResident(AT_INDEX_ROOT, kIndexName, root) &&
         record.AddResident(AT_INDEX_ALLOCATION, kIndexName, {}) &&
         record.AddResident(AT_BITMAP, kIndexName, {});
}

RecordBuilder NewDirectoryRecord(uint32_t recordSize, uint32_t bytesPerSector, uint32_t parent,
                                 const std::string& name, const Stamp& when) {
  RecordBuilder record(recordSize, bytesPerSector);
  const Descriptor descriptor = NewNodeDescriptor(kDescNewDirectory, kDirectorySizeField, when);
  // Even the smallest record (1 KiB) holds a directory with a 255-character
  // name, so the additions cannot run out of room.
  AddNodeAttributes(record, parent, name, descriptor);
  AddEmptyIndex(record);
  return record;
}

}  // namespace vrax::mkfs
