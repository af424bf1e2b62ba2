// Shrinking a non-resident value: whole runs beyond the new size leave the
// run lists and emptied extension instances are removed, in memory; their
// clusters and records are given back once the shrunk records are on disk
// (CommitChain), never before.
#include <cstring>
#include <new>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/record_edit.h"
#include "volume/attributes/resize_internal.h"
#include "volume/format/attribute_list.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

struct RunAt {
  uint8_t* instance = nullptr;
  RecordBuffer* holder = nullptr;
  uint32_t lcn = 0;
  uint32_t length = 0;
};

// Clusters held by every non-resident instance of the value.
uint64_t HeldClusters(Toolkit* t, RecordChain& chain, uint32_t type, bool& sound) {
  uint64_t total = 0;
  sound = true;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    const uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type);
    if (a == nullptr || !AttrIsNonResident(a)) continue;
    uint64_t clusters = 0;
    sound = sound && RunListClusters(a, clusters);
    total += clusters;
  }
  return total;
}

// The last run of the value's last instance (length 0 when that instance
// holds no run).
int32_t LastRun(Toolkit* t, RecordChain& chain, uint32_t type, RunAt& found) {
  found.instance = FindLastAttribute(t, chain, type, &found.holder);
  if (found.instance == nullptr || !AttrIsNonResident(found.instance)) return kErrTruncateLastMissing;
  const uint8_t* a = found.instance;
  const uint32_t offset = AttrRunListOffset(a);
  uint32_t lastCluster = 0, encoded = 0;
  found.length = 0;
  if (offset >= AttrLength(a) ||
      !RunListSummary(a + offset, AttrLength(a) - offset, lastCluster, found.length, encoded)) {
    return Corruption();
  }
  found.lcn = encoded == 0 ? 0 : lastCluster + 1 - found.length;
  if (encoded == 0) found.length = 0;
  return kOk;
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
    if (s == ListStatus::kMalformed) return Corruption();
    if (entry.type == type && entry.firstVcn == vcn && entry.record == record) {
      length = entry.length;
      return kOk;
    }
  }
}

// Removes an emptied instance and its list entry; a record left without
// attributes leaves the chain, and its MFT bit is cleared once the base
// record no longer lists it on disk.
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
    DeferFree(t, chain, PendingFree::kRecord, run.holder->recordNumber);
    chain.Remove(run.holder);
  }
  return kOk;
}

}  // namespace

// Works from the runs, not from the allocated size, so that runs a crash
// left beyond the allocated size (slack) are shed as well. Whole runs go
// from the end while what stays still holds n bytes; the allocated size is
// then what stays.
int32_t TruncateValue(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n) {
  const uint64_t K = t->clusterSize;
  bool sound = true;
  uint64_t held = HeldClusters(t, chain, type, sound);
  if (!sound) return Corruption();
  for (;;) {
    RunAt run;
    int32_t error = LastRun(t, chain, type, run);
    if (error != kOk) return error;
    RecordBuffer* firstHolder = nullptr;
    uint8_t* first = FindAttribute(t, chain, type, &firstHolder);
    if (first == nullptr) return kErrTruncateFirstMissing;
    if (run.length == 0) {
      if (run.instance == first) break;
      error = RemoveExtent(t, chain, type, run);  // an instance holding nothing
      if (error != kOk) return error;
      continue;
    }
    if ((held - run.length) * K < n) break;
    uint8_t* list = run.instance + AttrRunListOffset(run.instance);
    uint32_t lcn = run.lcn;
    error = ShortenLastRun(list, AttrLength(run.instance) - AttrRunListOffset(run.instance), lcn,
                           run.length);
    if (error != kOk) return error;
    DeferFree(t, chain, PendingFree::kClusters, run.lcn, run.length);
    run.holder->dirty = 1;
    held -= run.length;
  }
  RecordBuffer* firstHolder = nullptr;
  RecordBuffer* lastHolder = nullptr;
  uint8_t* first = FindAttribute(t, chain, type, &firstHolder);
  uint8_t* last = FindLastAttribute(t, chain, type, &lastHolder);
  if (first == nullptr || last == nullptr) return kErrTruncateLastMissing;
  if (held * K > 0xFFFFFFFFull) return Corruption();
  SetAttrAllocatedSize(first, static_cast<uint32_t>(held * K));
  SetAttrInitializedSize(first, n);
  SetAttrDataSize(first, n);
  SetAttrLastVcn(last, LastVcnOf(t, n));
  firstHolder->dirty = 1;
  lastHolder->dirty = 1;
  return kOk;
}

}  // namespace vrax
