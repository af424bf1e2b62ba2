// A directory as a stream of 32-byte records: ".." at offset 0, "." at 32,
// the index entries in order from 64.
#include <cstring>

#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"
#include "volume/format/file_name.h"
#include "volume/format/record.h"
#include "volume/index/index.h"

namespace vrax {

namespace {

void PutDirRecord(uint8_t* out, const char* name, uint32_t record) {
  std::memset(out, 0, kDirRecordSize);
  std::memcpy(out, name, std::strlen(name));
  PutLE32(out + kDirRecordNameSize, record);
}

// The parent's record number for "..": the root is its own parent.
int32_t ParentRecord(Toolkit* t, uint32_t self, uint32_t& parent, bool& found) {
  found = false;
  if (self == record::kRoot) {
    parent = record::kRoot;
    found = true;
    return kOk;
  }
  int32_t error = LoadExtensions(t, t->fileChain, t->fileChain.head);
  if (error != kOk) return error;
  uint8_t value[kFileNameHeader] = {};
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_FILE_NAME, t->fileChain, value, kFileNameHeader, 0, done,
                            kTransferRead);
  if (error != kOk) return error;
  if (done < kFileNameHeader) return kOk;  // an empty or short name: nothing to deliver
  parent = FileNameParent(value);
  found = true;
  return kOk;
}

}  // namespace

int32_t ReadDirectory(Toolkit* t, uint32_t offset, uint32_t length, uint8_t* buffer,
                      uint32_t& delivered) {
  delivered = 0;
  if (!IsDirectory(t) || offset % kDirRecordSize != 0 || length % kDirRecordSize != 0) {
    return kErrAccessDenied;
  }
  const uint32_t self = OpenedRecordNumber(t);
  uint8_t* out = buffer;
  if (offset == 0 && length >= kDirRecordSize) {
    uint32_t parent = 0;
    bool found = false;
    const int32_t error = ParentRecord(t, self, parent, found);
    if (error != kOk || !found) return error;
    PutDirRecord(out, "..", parent);
    out += kDirRecordSize;
    length -= kDirRecordSize;
    offset = kDirRecordSize;
  }
  if (offset == kDirRecordSize && length >= kDirRecordSize) {
    PutDirRecord(out, ".", self);
    out += kDirRecordSize;
    length -= kDirRecordSize;
    offset = 2 * kDirRecordSize;
  }
  int32_t error = kOk;
  if (length >= kDirRecordSize && offset >= 2 * kDirRecordSize) {
    uint32_t skip = (offset - 2 * kDirRecordSize) / kDirRecordSize;
    uint32_t wanted = length / kDirRecordSize;
    error = IndexEnumerate(t, t->fileChain, skip, wanted, out, length);
  }
  delivered = static_cast<uint32_t>(out - buffer);
  return error;
}

}  // namespace vrax
