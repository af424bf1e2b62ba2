// Creating files and directories.
#include <ctime>
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/record_edit.h"
#include "volume/fileops/fileops.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/new_node.h"
#include "volume/format/record.h"
#include "volume/index/index.h"
#include "volume/index/index_update.h"

namespace vrax {

namespace {

// The descriptor a new node starts with: owner and public read and write
// (and the directory bit), both dates now.
int32_t NewDescriptor(int kind, uint8_t* out) {
  Stamp now;
  const int32_t error = LocalStamp(now);
  if (error != kOk) return error;
  const bool directory = kind == kNodeDirectory;
  EncodeDescriptor(NewNodeDescriptor(directory ? kDescNewDirectory : kDescNewFile,
                                     directory ? kDirectorySizeField : 0, now),
                   out);
  return kOk;
}

// Fills a value of the record being built. The record is written once,
// when it is complete, so the values are put in place in memory.
int32_t WriteValue(Toolkit* t, RecordChain& chain, uint32_t type, const uint8_t* value,
                   uint32_t size) {
  int32_t error = SetAttributeSize(t, chain, type, size);
  if (error != kOk || size == 0) return error;
  uint8_t* a = FindAttribute(t, chain, type);
  if (a != nullptr && !AttrIsNonResident(a) && AttrValueLength(a) == size) {
    std::memcpy(AttrValue(a), value, size);
    chain.head->dirty = 1;
    return kOk;
  }
  uint32_t done = 0;
  return AttributeTransfer(t, type, chain, const_cast<uint8_t*>(value), size, 0, done,
                           kTransferWrite);
}

int32_t AddAttributes(Toolkit* t, uint8_t* image, int kind) {
  for (uint32_t type : kNodeAttributes) {
    const int32_t error = AddAttribute(image, t->recordSize, type, nullptr);
    if (error != kOk) return error;
  }
  if (kind != kNodeDirectory) return AddAttribute(image, t->recordSize, AT_DATA, nullptr);
  SetRecordFlags(image, record::kFlagDirectory);
  for (uint32_t type : kDirectoryIndexAttributes) {
    const int32_t error = AddAttribute(image, t->recordSize, type, kIndexName);
    if (error != kOk) return error;
  }
  return kOk;
}

int32_t FillValues(Toolkit* t, uint32_t parent, int kind, RecordChain& chain, const char* name,
                   uint32_t n, uint32_t initialSize) {
  uint8_t info[kStandardInformationSize];
  BuildStandardInformation(info);
  int32_t error = WriteValue(t, chain, AT_STANDARD_INFORMATION, info, sizeof info);
  if (error == kOk && n != 0) {
    std::string value(FileNameValueSize(n), '\0');
    EncodeFileName(reinterpret_cast<uint8_t*>(value.data()), parent, name, n);
    error = WriteValue(t, chain, AT_FILE_NAME, reinterpret_cast<const uint8_t*>(value.data()),
                       FileNameValueSize(n));
  }
  uint8_t descriptor[kDescriptorSize] = {};
  if (error == kOk) error = NewDescriptor(kind, descriptor);
  if (error == kOk) error = WriteValue(t, chain, AT_OSK_FILEDES, descriptor, kDescriptorSize);
  if (error != kOk) return error;
  if (kind == kNodeDirectory) return IndexRootInit(t, chain);
  return SetAttributeSize(t, chain, AT_DATA, initialSize);
}

}  // namespace

// A failed index change leaves on disk what its ordered writes reached
// (leaks at worst). The directory's records are read back from there, what
// the change took in memory only is given back, and so are the blocks it
// took or unlinked that the index on disk does not reach.
void UndoIndexChange(Toolkit* t, RecordChain& parent) {
  DiscardChanges(t, parent);
  ReleaseUnlinkedBlocks(t, parent, t->indexBlocksTouched);
  t->indexBlocksTouched.clear();
}

int32_t LinkName(Toolkit* t, RecordChain& parent, const char* name, uint32_t n, uint32_t record) {
  t->indexBlocksTouched.clear();
  const int32_t error = IndexInsert(t, parent, name, n, record);
  if (error != kOk) UndoIndexChange(t, parent);
  return error;
}

// A removal whose name left the index on disk before a later step failed
// has happened: only its leftovers are given back.
int32_t UnlinkName(Toolkit* t, RecordChain& parent, const char* name, uint32_t n,
                   uint32_t& record) {
  t->indexBlocksTouched.clear();
  record = 0xFFFFFFFFu;
  int32_t error = IndexRemove(t, parent, name, n, record);
  if (error == kOk || record == 0xFFFFFFFFu) {
    if (error != kOk) UndoIndexChange(t, parent);
    return error;
  }
  UndoIndexChange(t, parent);
  uint32_t still = 0;
  const int32_t lookup = IndexLookup(t, parent, name, n, still);
  if (lookup == kErrPathNotFound || (lookup == kOk && still == 0xFFFFFFFFu)) error = kOk;
  return error;
}

// The record is written complete, descriptor included, before anything
// names it.
int32_t BuildRecord(Toolkit* t, uint32_t parent, int kind, RecordChain& chain, const char* name,
                    uint32_t n, uint32_t initialSize) {
  RecordBuffer* b = chain.head;
  b->dirty = 1;
  BuildEmptyRecord(b->image, t->recordSize, t->bytesPerSector,
                   PreviousSequenceNumber(b->image, t->recordSize));
  int32_t error = AddAttributes(t, b->image, kind);
  if (error == kOk) error = FillValues(t, parent, kind, chain, name, n, initialSize);
  if (error == kOk) error = WriteChain(t, chain);
  return error;
}

int32_t CreateRecord(Toolkit* t, RecordChain& parent, int kind, const char* name,
                     uint32_t initialSize) {
  uint32_t n = 0;
  int32_t error = ValidateName(name, n);
  if (error != kOk) return error;
  const uint32_t parentNumber = parent.head->recordNumber;
  uint32_t existing = 0;
  if (WalkPath(t, parentNumber, name, existing) == kOk) return kErrAlreadyExists;
  error = CheckIndexBitmap(t, parent);  // before anything is taken
  if (error != kOk) return error;
  uint32_t number = 0;
  error = AllocateRecord(t, number);
  if (error != kOk) return error;
  RecordChain chain;
  RecordBuffer* b = AllocRecordBuffer(t, chain);
  if (b == nullptr) error = kErrNotEnoughMemory;
  if (error == kOk) {
    error = ReadRecordQuietly(t, number, b);
    if (error == kErrBadStructure) error = kOk;  // a record never used, or torn
    b->recordNumber = number;
  }
  if (error == kOk) {
    // Until its name is linked nothing names the new record, and its MFT bit
    // alone is a leak: in a chained creation the two need no barrier between.
    const ScopedWriteOrder join(t, t->writeOrder == WriteOrder::kChained ? WriteOrder::kUnordered
                                                                         : t->writeOrder);
    error = BuildRecord(t, parentNumber, kind, chain, name, n, initialSize);
  }
  if (error == kOk) error = LinkName(t, parent, name, n, number);
  // The record holds no clusters yet and nothing names it: giving its MFT
  // bit back undoes the creation.
  if (error != kOk) SetRecordBit(t, kRecordFree, number);
  return error;
}

int32_t CreateNode(Toolkit* t, const char* path, int kind) {
  std::string parentPath, name;
  SplitPath(path, parentPath, name);
  int32_t error = ToolkitMountAndOpen(t, parentPath.c_str());
  if (error != kOk) return error;
  if (!IsDirectory(t)) return kErrAccessDenied;
  error = CreateRecord(t, t->fileChain, kind, name.c_str(),
                       kind == kNodeDirectory ? kDirectorySizeField : 0);
  if (error != kOk) return error;
  ToolkitRelease(t);
  return ToolkitReopen(t, path);
}

namespace {

// A new node at `path`, left open in `toolkit` when that succeeded.
int32_t CreateAt(ToolkitOwner& toolkit, const char* path, int kind, bool deferred = false) {
  Toolkit* created = nullptr;
  int32_t error = ToolkitCreate(created, path);
  if (error != kOk) return error;
  ToolkitOwner t(created);
  {
    const ScopedWriteOrder order(t.get(), deferred ? WriteOrder::kChained : WriteOrder::kOrdered);
    error = (path == nullptr || *path == '\0') ? kErrAlreadyExists
                                                : CreateNode(t.get(), path, kind);
  }
  t->uncommitted = deferred;
  if (error == kOk) toolkit = std::move(t);
  return error;
}

}  // namespace

int32_t ToolkitCreateFile(Toolkit*& toolkit, const char* path, bool deferred) {
  ToolkitOwner owner;
  const int32_t error = CreateAt(owner, path, kNodeFile, deferred);
  toolkit = owner.release();
  return error;
}

int32_t ToolkitMakeDirectory(const char* path) {
  ToolkitOwner owner;
  return CreateAt(owner, path, kNodeDirectory);
}

}  // namespace vrax
