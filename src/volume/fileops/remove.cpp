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
#include "volume/toolkit/damage.h"

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

// A removal unlinks the name first (one index write), then clears the MFT
// bits of the record and its extension records, and gives the clusters back
// last: a crash in between leaves a record or clusters marked that nothing
// reaches (leaks), never a name leading to a free record or a cluster free
// while a record in use names it.
namespace {

// Clears the MFT bits of the record and its extensions; on failure the bits
// already cleared are set again, so the record is either wholly free or
// wholly in use.
int32_t FreeRecordBits(Toolkit* t, RecordChain& chain) {
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    if (b->recordNumber == 0) continue;
    const int32_t error = SetRecordBit(t, kRecordFree, b->recordNumber);
    if (error == kOk) continue;
    for (RecordBuffer* c = chain.head; c != b; c = c->next) {
      if (c->recordNumber != 0) SetRecordBit(t, kRecordInUse, c->recordNumber);
    }
    return error;
  }
  return kOk;
}

// The record is free once its bits are clear: its clusters go back then,
// its images are never written again.
int32_t ReleaseRecordSteps(Toolkit* t, uint32_t n, bool& freed) {
  freed = false;
  RecordChain chain;
  int32_t error = OpenRecord(t, chain, n);
  if (error == kOk) error = FreeRecordBits(t, chain);
  if (error != kOk) return error;
  freed = true;
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
  return ApplyPendingFrees(t, &chain);
}

}  // namespace

int32_t ReleaseRecord(Toolkit* t, uint32_t n) {
  bool freed = false;
  return ReleaseRecordSteps(t, n, freed);
}

namespace {

// Takes `name` out of the directory open in `p`, then frees `record`, the
// record the name was walked to.
int32_t UnlinkAndRelease(Toolkit* p, const std::string& name, uint32_t record) {
  const auto n = static_cast<uint32_t>(name.size());
  int32_t error = CheckWritable(p);
  uint32_t removed = 0;
  if (error == kOk) error = UnlinkName(p, p->fileChain, name.c_str(), n, removed);
  if (error == kOk && removed != record) {
    // The index gave another record for the name than the walk did.
    LinkName(p, p->fileChain, name.c_str(), n, removed);
    error = VolumeDamage(p, "the directory lists the name twice");
  }
  if (error == kOk) {
    // Once the name is gone (an ordered write) nothing reaches the record
    // or its clusters: their bits go out relaxed, in any order, and wait
    // for the next barrier. Lost in a crash they are leaks: a record in use
    // that no name reaches, its clusters marked or not (the repair takes an
    // orphan back only while all its clusters are marked).
    bool freed = false;
    {
      const ScopedWriteOrder frees(p, WriteOrder::kUnordered);
      error = ReleaseRecordSteps(p, record, freed);
    }
    // A record that could not be freed is still in use: it gets its name back.
    if (error != kOk && !freed) LinkName(p, p->fileChain, name.c_str(), n, record);
  }
  return error;
}

}  // namespace

int32_t ToolkitRemove(const char* path) {
  ToolkitOwner t;
  int32_t error = ToolkitOpen(t, path);
  if (error != kOk) return error;
  const uint32_t record = OpenedRecordNumber(t.get());
  error = CheckDeletable(t.get(), IsDirectory(t.get()) ? kNodeDirectory : kNodeFile);
  std::string parent, name;
  SplitPath(path, parent, name);
  ToolkitOwner p;
  if (error == kOk) error = ToolkitOpen(p, parent.c_str());
  if (error == kOk) error = CheckNamedRecord(t.get());
  t.reset();  // the parent's toolkit makes the change
  return error == kOk ? UnlinkAndRelease(p.get(), name, record) : error;
}

}  // namespace vrax
