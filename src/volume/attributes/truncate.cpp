// Shrinking a non-resident value: whole runs beyond the new size are freed
// and emptied extension instances removed.
#include <cstring>
#include <new>
#include <vector>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/record_edit.h"
#include "volume/attributes/resize_internal.h"
#include "volume/format/attribute_list.h"
#include "volume/format/record.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

struct RunAt {
  uint8_t* instance = nullptr;
  RecordBuffer* holder = nullptr;
  uint32_t lcn = 0;
  uint32_t length = 0;
};

// The run holding `vcn` over the instances of the chain.
int32_t FindRun(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t vcn, RunAt& found) {
  int32_t error = kErrVcnNotMapped;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type);
    if (a == nullptr || !AttrIsNonResident(a)) continue;
    uint32_t first = 0, last = 0;
    error = LookupRun(a, vcn, first, last, found.length, found.lcn, false);
    if (error == kOk) {
      found.instance = a;
      found.holder = b;
      return kOk;
    }
    if (error == kErrBadStructure) return error;
  }
  return error;
}

// Finds the list entry of an instance: its offset and length in the list.
int32_t FindListEntry(uint8_t* list, uint32_t type, uint32_t vcn, uint32_t record, uint32_t& at,
                      uint32_t& length) {
  const uint32_t size = AttrValueLength(list);
  uint32_t pos = 0;
  AttributeListEntry entry;
  for (;;) {
    at = pos;
    const ListStatus s = DecodeAttributeListEntry(AttrValue(list), size, pos, entry);
    if (s == ListStatus::kEnd) return kErrExtentInstanceMissing;
    if (s == ListStatus::kMalformed) return kErrBadStructure;
    if (entry.type == type && entry.firstVcn == vcn && entry.record == record) {
      length = entry.length;
      return kOk;
    }
  }
}

// Removes an emptied instance and its list entry; a record left without
// attributes is unlinked and its MFT bit cleared.
int32_t RemoveExtent(Toolkit* t, RecordChain& chain, uint32_t type, RunAt& run) {
  uint8_t* list = FindAttribute(t, chain, AT_ATTRIBUTE_LIST);
  if (list == nullptr) return kErrSizeLastMissing;
  if (AttrIsNonResident(list)) return kErrExtentListNonResident;
  uint32_t at = 0, length = 0;
  int32_t error = FindListEntry(list, type, AttrFirstVcn(run.instance),
                                run.holder->recordNumber, at, length);
  if (error != kOk) return error;
  RemoveAttributeBytes(run.holder->image, t->recordSize, run.instance);
  run.holder->dirty = 1;
  RecordBuffer* listHolder = nullptr;
  list = FindAttribute(t, chain, AT_ATTRIBUTE_LIST, &listHolder);
  if (list == nullptr) return kErrSizeLastMissing;
  const uint32_t size = AttrValueLength(list);
  uint8_t* value = AttrValue(list);
  std::memmove(value + at, value + at + length, size - at - length);
  error = ResizeResident(t, chain, AT_ATTRIBUTE_LIST, list, listHolder, size - length);
  if (error != kOk) return error;
  if (RecordAttributeCount(run.holder->image) == 0 && run.holder != chain.head) {
    const uint32_t number = run.holder->recordNumber;
    chain.Remove(run.holder);
    return SetRecordBit(t, kRecordFree, number);
  }
  return kOk;
}

}  // namespace

int32_t TruncateValue(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n) {
  const uint32_t K = t->clusterSize;
  for (;;) {
    RecordBuffer* firstHolder = nullptr;
    uint8_t* first = FindAttribute(t, chain, type, &firstHolder);
    if (first == nullptr) return kErrTruncateFirstMissing;
    firstHolder->dirty = 1;
    const uint32_t allocated = AttrAllocatedSize(first);
    if (allocated <= n) break;
    RunAt run;
    int32_t error = FindRun(t, chain, type, (allocated - 1) / K, run);
    if (error != kOk) return error;
    const uint64_t bytes = static_cast<uint64_t>(run.length) * K;
    if (allocated < bytes || allocated - bytes < n) break;
    uint8_t* list = run.instance + AttrRunListOffset(run.instance);
    uint32_t lcn = run.lcn;
    error = ShortenLastRun(list, AttrLength(run.instance) - AttrRunListOffset(run.instance), lcn,
                           run.length);
    if (error == kOk) error = FreeClusters(t, run.lcn, run.length);
    if (error != kOk) return error;
    SetAttrAllocatedSize(first, static_cast<uint32_t>(allocated - bytes));
    run.holder->dirty = 1;
    uint64_t left = 0;
    if (run.instance != first && RunListClusters(run.instance, left) && left == 0) {
      error = RemoveExtent(t, chain, type, run);
      if (error != kOk) return error;
    }
  }
  RecordBuffer* firstHolder = nullptr;
  RecordBuffer* lastHolder = nullptr;
  uint8_t* first = FindAttribute(t, chain, type, &firstHolder);
  uint8_t* last = FindLastAttribute(t, chain, type, &lastHolder);
  if (first == nullptr || last == nullptr) return kErrTruncateLastMissing;
  SetAttrInitializedSize(first, n);
  SetAttrDataSize(first, n);
  SetAttrLastVcn(last, LastVcnOf(t, n));
  firstHolder->dirty = 1;
  lastHolder->dirty = 1;
  return kOk;
}

}  // namespace vrax
