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

namespace {

// The empty non-resident header that replaces a resident attribute: the
// first 16 bytes kept (type, flags, identifier), the name at 0x48, an empty
// run list behind it.
void BuildNonResidentHeader(const uint8_t* resident, uint8_t* out, uint32_t headerSize) {
  std::memset(out, 0, headerSize);
  std::memcpy(out, resident, 16);
  const uint32_t nameLength = AttrNameLength(resident);
  out[attr::kNonResident] = 1;
  PutLE32(out + attr::kLength, headerSize);
  out[attr::kNameOffset] = attr::kNonResidentHeader;
  PutLE16(out + attr::kRunListOffset,
          static_cast<uint16_t>(attr::kNonResidentHeader + 2 * nameLength));
  if (nameLength != 0) {
    std::memcpy(out + attr::kNonResidentHeader, resident + AttrNameOffset(resident),
                2 * nameLength);
  }
}

}  // namespace

// The record keeps its resident form until the clusters hold the old value:
// the clusters are allocated and filled first, and only the caller writes
// the record, once the whole change is in place. Any failure puts the
// record image back as it was, so a full disk never loses the value.
int32_t MakeNonResident(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* a,
                        RecordBuffer* holder, uint32_t n) {
  const uint32_t headerSize = 0x4C + 2u * AttrNameLength(a);
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
  BuildNonResidentHeader(a, header.data(), headerSize);
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
