// Moving a resident value out into clusters.
#include <cstring>
#include <new>
#include <vector>

#include "platform/error_codes.h"
#include "volume/attributes/record_edit.h"
#include "volume/attributes/resize_internal.h"
#include "volume/format/record.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

// The record keeps its resident form until the clusters hold the old value:
// the clusters are allocated and filled first, and only the caller writes
// the record, once the whole change is in place. Any failure puts the
// record image back as it was, so a full disk never loses the value.
int32_t MakeNonResident(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* a,
                        RecordBuffer* holder, uint32_t n) {
  // The empty non-resident header that replaces the resident attribute.
  const uint32_t headerSize = NonResidentAttributeLength(AttrNameLength(a), 0);
  const uint32_t oldLength = AttrLength(a);
  if (headerSize > oldLength && headerSize - oldLength > RecordFreeRoom(holder->image)) {
    return kErrNoRoomNonResident;
  }
  std::vector<uint8_t> saved, snapshot, header;
  try {
    saved.assign(AttrValue(a), AttrValue(a) + AttrValueLength(a));
    snapshot.assign(holder->image, holder->image + t->recordSize);
    header.assign(headerSize, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  WriteNonResidentHeader(a, header.data(), headerSize);
  const uint32_t at = static_cast<uint32_t>(a - holder->image);
  ShiftRecordTail(holder->image, t->recordSize, at + oldLength,
                  static_cast<int64_t>(headerSize) - static_cast<int64_t>(oldLength));
  std::memcpy(holder->image + at, header.data(), headerSize);
  SetRecordFlags(holder->image, RecordFlags(holder->image) | record::kFlagInUse);
  holder->dirty = 1;
  const uint32_t buffers = chain.Size();
  int32_t error = SetNonResidentSize(t, chain, type, n);
  uint32_t done = 0;
  if (error == kOk && !saved.empty()) {
    error = AttributeTransfer(t, type, chain, saved.data(),
                              static_cast<uint32_t>(saved.size()), 0, done, kTransferWrite);
  }
  if (error == kOk) return kOk;
  // Give the clusters back and restore the resident form when the chain
  // still holds the same records; otherwise the emptied value stays valid.
  TruncateValue(t, chain, type, 0);
  if (chain.Size() == buffers && chain.Find(holder->recordNumber) == holder) {
    std::memcpy(holder->image, snapshot.data(), t->recordSize);
  }
  return error;
}

}  // namespace vrax
