// Resizing attribute values: resident values in place, non-resident values
// by allocating or freeing clusters.
#include <cstring>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/record_edit.h"
#include "volume/attributes/resize_internal.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

int32_t SetAttributeSize(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t newSize) {
  if (newSize > MaxValueSize(t)) return kErrIncorrectSize;
  RecordBuffer* holder = nullptr;
  uint8_t* a = FindAttribute(t, chain, type, &holder);
  if (a == nullptr) return kErrAccessDenied;
  if (AttrIsNonResident(a)) return SetNonResidentSize(t, chain, type, newSize);
  return ResizeResident(t, chain, type, a, holder, newSize);
}

// Gives a resident value the room of n bytes, moving what follows it in the
// record; when the record cannot hold it the value moves into clusters.
// Bytes a value gains read as zeros.
int32_t ResizeResident(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* a,
                       RecordBuffer* holder, uint32_t n) {
  holder->dirty = 1;
  const uint32_t length = AttrValueLength(a);
  if (n == length) return kOk;
  const uint32_t valueOffset = AttrValueOffset(a);
  const uint32_t room = AttrLength(a) - valueOffset;
  const uint32_t needed = ResidentValueSpace(type, n);
  const bool fitsRecord = needed <= room || needed - room <= RecordFreeRoom(holder->image);
  if (n > 0xFFFF || !fitsRecord) return MakeNonResident(t, chain, type, a, holder, n);
  if (needed != room) {
    const uint32_t at = static_cast<uint32_t>(a - holder->image) + AttrLength(a);
    if (!ShiftRecordTail(holder->image, t->recordSize, at,
                         static_cast<int64_t>(needed) - static_cast<int64_t>(room))) {
      return Corruption();
    }
    SetAttrLength(a, valueOffset + needed);
  }
  if (n > length) std::memset(AttrValue(a) + length, 0, n - length);
  SetAttrValueLength(a, static_cast<uint16_t>(n));
  return kOk;
}

// A value that already holds clusters beyond its size takes them first;
// clusters are allocated only for what lies beyond them.
int32_t SetNonResidentSize(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n) {
  RecordBuffer* firstHolder = nullptr;
  RecordBuffer* lastHolder = nullptr;
  uint8_t* first = FindAttribute(t, chain, type, &firstHolder);
  uint8_t* last = FindLastAttribute(t, chain, type, &lastHolder);
  if (first == nullptr) return kErrSizeFirstMissing;
  if (last == nullptr) return kErrSizeLastMissing;
  firstHolder->dirty = 1;
  if (n < AttrInitializedSize(first)) return TruncateValue(t, chain, type, n);
  const uint32_t allocated = AttrAllocatedSize(first);
  if (allocated != AttrInitializedSize(first)) {
    const uint32_t covered = n < allocated ? n : allocated;
    SetAttrInitializedSize(first, covered);
    SetAttrDataSize(first, covered);
    SetAttrLastVcn(last, LastVcnOf(t, covered));
    chain.head->dirty = 1;
    lastHolder->dirty = 1;
  }
  if (n > allocated) return ExtendValue(t, chain, type, n);
  return kOk;
}

}  // namespace vrax
