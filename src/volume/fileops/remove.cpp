// Removing files and empty directories.
#include <span>
#include <string>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/format/record.h"
#include "volume/fileops/fileops.h"
#include "volume/index/index.h"
#include "volume/index/index_update.h"

namespace vrax {

int32_t CheckDeletable(Toolkit* t, int kind) {
  int32_t error = CheckRemovable(t);
  if (error != kOk || kind != kNodeDirectory) return error;
  uint8_t entry[kDirRecordSize];
  uint32_t delivered = 0;
  error = ReadDirectory(t, 2 * kDirRecordSize, kDirRecordSize, entry, delivered);
  if (error != kOk) return error;
  return delivered != 0 ? kErrDirNotEmpty : kOk;
}

// The record's MFT bits are cleared before its clusters are freed: should a
// step fail half-way, clusters may stay marked, but no cluster is ever free
// while a record in use still names it.
int32_t ReleaseRecord(Toolkit* t, uint32_t n) {
  RecordChain chain;
  int32_t error = OpenRecord(t, chain, n);
  if (error != kOk) return error;
  for (RecordBuffer* b = chain.head; b != nullptr && error == kOk; b = b->next) {
    if (b->recordNumber != 0) error = SetRecordBit(t, kRecordFree, b->recordNumber);
  }
  if (error != kOk) return error;
  const bool directory = (RecordFlags(chain.head->image) & record::kFlagDirectory) != 0;
  const uint32_t fileTypes[] = {AT_DATA, AT_OSK_FILEDES, AT_SECURITY_DESCRIPTOR, AT_FILE_NAME,
                                AT_STANDARD_INFORMATION};
  const uint32_t directoryTypes[] = {AT_INDEX_ALLOCATION, AT_INDEX_ROOT, AT_BITMAP,
                                     AT_OSK_FILEDES, AT_SECURITY_DESCRIPTOR, AT_FILE_NAME,
                                     AT_STANDARD_INFORMATION};
  for (uint32_t type : directory ? std::span<const uint32_t>(directoryTypes)
                                 : std::span<const uint32_t>(fileTypes)) {
    if (FindAttribute(t, chain, type) != nullptr) SetAttributeSize(t, chain, type, 0);
  }
  return kOk;
}

int32_t ToolkitRemove(const char* path) {
  Toolkit* t = nullptr;
  int32_t error = ToolkitOpen(t, path);
  if (error != kOk) return error;
  const int kind = IsDirectory(t) ? kNodeDirectory : kNodeFile;
  const uint32_t record = OpenedRecordNumber(t);
  error = CheckDeletable(t, kind);
  ToolkitClose(t);
  if (error != kOk) return error;
  std::string parent, name;
  SplitPath(path, parent, name);
  Toolkit* p = nullptr;
  error = ToolkitOpen(p, parent.c_str());
  if (error != kOk) return error;
  error = CheckWritable(p);
  uint32_t removed = 0;
  if (error == kOk) error = IndexRemove(p, p->fileChain, name.c_str(),
                                        static_cast<uint32_t>(name.size()), removed);
  if (error == kOk) error = ReleaseRecord(p, record);
  ToolkitClose(p);
  return error;
}

}  // namespace vrax
