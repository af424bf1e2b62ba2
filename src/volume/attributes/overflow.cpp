// Continuing a non-resident value in a new extension record when its
// record has no room for another run.
//
// The value's instance in the base record keeps its place; new runs go into
// extension records. When the last instance is the one in the base record,
// its trailing runs move into the new record, which frees the room the
// attribute list needs: the first instance, which carries the value's
// sizes, thus stays in the base record beside the file's descriptor, and a
// later growth of the value is committed by one write of the base record,
// after the extension records that hold the new runs (ChainOrder::kGrow).
//
// Everything here changes record images in memory only; the new record is
// written by the caller's commit, before the base record that names it.
#include <algorithm>
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

// Room kept free in the base record beyond what a new list needs, so that
// a few more extension records can be listed later.
constexpr uint32_t kListMargin = 4 * kAttributeListEntrySize;

// A fresh extension record of the base record, in memory only.
int32_t NewExtensionRecord(Toolkit* t, RecordChain& chain, RecordChain& scratch,
                           RecordBuffer*& record) {
  uint32_t number = 0;
  int32_t error = AllocateRecord(t, number);
  if (error != kOk) return error;
  record = AllocRecordBuffer(t, scratch);
  if (record == nullptr) {
    SetRecordBit(t, kRecordFree, number);
    return kErrNotEnoughMemory;
  }
  ReadRecordQuietly(t, number, record);  // only for its sequence number
  BuildEmptyRecord(record->image, t->recordSize, t->bytesPerSector,
                   PreviousSequenceNumber(record->image, t->recordSize));
  record->recordNumber = number;
  SetRecordFlags(record->image, RecordFlags(chain.head->image) | record::kFlagInUse);
  SetRecordBaseReference(record->image, chain.head->recordNumber);
  return kOk;
}

void PutEntry(uint8_t* at, uint32_t type, uint32_t vcn, uint32_t record, uint16_t id) {
  AttributeListEntry e;
  e.type = type;
  e.firstVcn = vcn;
  e.record = record;
  e.identifier = id;
  EncodeAttributeListEntry(at, e);
}

// An instance of `like`'s type, name and identifier holding `runs` from
// VCN `firstVcn`, with the value's last VCN; its sizes are 0 (only the first
// instance carries them).
std::vector<uint8_t> InstanceBytes(const uint8_t* like, uint32_t firstVcn, uint32_t lastVcn,
                                   const std::vector<ClusterRun>& runs) {
  const std::vector<uint8_t> encoded = EncodeRunList(runs);
  const uint32_t nameLength = AttrNameLength(like);
  const uint32_t length =
      NonResidentAttributeLength(nameLength, static_cast<uint32_t>(encoded.size()));
  std::vector<uint8_t> bytes(length, 0);
  WriteNonResidentHeader(like, bytes.data(), length);
  const uint32_t runListOffset = NonResidentRunListOffset(nameLength);
  SetAttrFirstVcn(bytes.data(), firstVcn);
  SetAttrLastVcn(bytes.data(), lastVcn);
  std::copy(encoded.begin(), encoded.end(), bytes.begin() + runListOffset);
  return bytes;
}

uint32_t ClustersOf(const std::vector<ClusterRun>& runs, size_t count) {
  uint64_t total = 0;
  for (size_t i = 0; i < count; ++i) total += runs[i].length;
  return static_cast<uint32_t>(total);
}

// How many leading runs of the instance `a` may stay in the base record so
// that `needed` bytes come free; 0 when none will do. Most runs stay.
size_t RunsToKeep(const uint8_t* a, const std::vector<ClusterRun>& runs, int64_t needed) {
  for (size_t keep = runs.size() - 1; keep >= 1; --keep) {
    const std::vector<ClusterRun> kept(runs.begin(), runs.begin() + static_cast<long>(keep));
    const uint32_t length = NonResidentAttributeLength(
        AttrNameLength(a), static_cast<uint32_t>(EncodeRunList(kept).size()));
    if (static_cast<int64_t>(AttrLength(a)) - length >= needed) return keep;
  }
  return 0;
}

// Rewrites the instance `a` of the base record to hold only `runs`.
int32_t ShrinkInstance(Toolkit* t, RecordBuffer* base, uint8_t* a,
                       const std::vector<ClusterRun>& runs, uint32_t lastVcn) {
  const std::vector<uint8_t> encoded = EncodeRunList(runs);
  const uint32_t length =
      NonResidentAttributeLength(AttrNameLength(a), static_cast<uint32_t>(encoded.size()));
  const uint32_t at = static_cast<uint32_t>(a - base->image) + AttrLength(a);
  uint8_t* list = a + AttrRunListOffset(a);
  std::fill(list, a + AttrLength(a), 0);
  std::copy(encoded.begin(), encoded.end(), list);
  if (!ShiftRecordTail(base->image, t->recordSize, at,
                       static_cast<int64_t>(length) - AttrLength(a))) {
    return Corruption();
  }
  SetAttrLength(a, length);
  SetAttrLastVcn(a, lastVcn);
  return kOk;
}

// Gives the base record its list: one entry per attribute it holds, then
// the entry of the instance moved to `ext`.
int32_t AddList(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t vcn, RecordBuffer* ext,
                uint16_t id) {
  RecordBuffer* base = chain.head;
  const uint32_t entries = RecordAttributeCount(base->image) + 1u;
  int32_t error = AddAttribute(base->image, t->recordSize, AT_ATTRIBUTE_LIST, nullptr);
  uint8_t* list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (error == kOk && list == nullptr) error = Corruption();
  if (error == kOk) {
    error = ResizeResident(t, chain, AT_ATTRIBUTE_LIST, list, base,
                           entries * kAttributeListEntrySize);
  }
  list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (error == kOk && (list == nullptr || AttrIsNonResident(list))) error = kErrAddNoRoom;
  if (error != kOk) return error;
  uint8_t* out = AttrValue(list);
  AttributeWalk walk(base->image, t->recordSize);
  while (const uint8_t* other = walk.Next()) {
    if (AttrType(other) == AT_ATTRIBUTE_LIST) continue;
    PutEntry(out, AttrType(other), AttrIsNonResident(other) ? AttrFirstVcn(other) : 0,
             base->recordNumber, AttrIdentifier(other));
    out += kAttributeListEntrySize;
  }
  PutEntry(out, type, vcn, ext->recordNumber, id);
  return kOk;
}

// Appends one entry to the base record's list.
int32_t ExtendList(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t vcn,
                   RecordBuffer* ext, uint16_t id) {
  RecordBuffer* base = chain.head;
  uint8_t* list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (list == nullptr || AttrIsNonResident(list)) return kErrExtentListNonResident;
  const uint32_t size = AttrValueLength(list);
  if (ResidentValueSpace(AT_ATTRIBUTE_LIST, size + kAttributeListEntrySize) >
      AttrLength(list) - AttrValueOffset(list) + RecordFreeRoom(base->image)) {
    return kErrAddNoRoom;  // the list would have to leave the record
  }
  int32_t error = ResizeResident(t, chain, AT_ATTRIBUTE_LIST, list, base,
                                 size + kAttributeListEntrySize);
  list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (error == kOk && (list == nullptr || AttrIsNonResident(list))) error = kErrAddNoRoom;
  if (error != kOk) return error;
  PutEntry(AttrValue(list) + size, type, vcn, ext->recordNumber, id);
  return kOk;
}

// The last instance lives in the base record: its trailing runs move into
// `ext` as a new instance, freeing the room for the list (or its new
// entry), with some to spare when possible.
int32_t SplitBaseInstance(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* a,
                          RecordBuffer* ext) {
  RecordBuffer* base = chain.head;
  const bool hasList =
      FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST) != nullptr;
  std::vector<ClusterRun> runs;
  const uint32_t offset = AttrRunListOffset(a);
  if (offset >= AttrLength(a) || !DecodeRunList(a + offset, AttrLength(a) - offset, runs)) {
    return Corruption();
  }
  if (runs.size() < 2) return kErrAddNoRoom;
  const uint32_t listGrowth =
      hasList ? kAttributeListEntrySize
              : attr::kResidentHeader +
                    (RecordAttributeCount(base->image) + 1u) * kAttributeListEntrySize;
  const int64_t needed = static_cast<int64_t>(listGrowth) - RecordFreeRoom(base->image);
  size_t keep = RunsToKeep(a, runs, needed + kListMargin);
  if (keep == 0) keep = RunsToKeep(a, runs, needed);
  if (keep == 0) return kErrAddNoRoom;
  const uint32_t firstVcn = AttrFirstVcn(a) + ClustersOf(runs, keep);
  const std::vector<ClusterRun> moved(runs.begin() + static_cast<long>(keep), runs.end());
  const std::vector<uint8_t> instance = InstanceBytes(a, firstVcn, AttrLastVcn(a), moved);
  if (!InsertAttributeBytes(ext->image, t->recordSize, instance.data(),
                            static_cast<uint32_t>(instance.size()))) {
    return kErrOverflowWhileListing;
  }
  const uint16_t id = AttrIdentifier(a);
  runs.resize(keep);
  const int32_t error = ShrinkInstance(t, base, a, runs, firstVcn - 1);
  if (error != kOk) return error;
  return hasList ? ExtendList(t, chain, type, firstVcn, ext, id)
                 : AddList(t, chain, type, firstVcn, ext, id);
}

// The last instance lives in an extension record: a new empty instance in
// `ext` continues the value right after the clusters it covers.
int32_t StartInstance(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* last,
                      RecordBuffer* ext) {
  uint64_t covered = 0;
  if (!RunListClusters(last, covered)) return kErrOverflowMissingInstance;
  const uint64_t firstVcn = AttrFirstVcn(last) + covered;
  if (firstVcn > 0xFFFFFFFFull) return kErrIncorrectSize;
  const std::vector<uint8_t> instance =
      InstanceBytes(last, static_cast<uint32_t>(firstVcn), AttrLastVcn(last), {});
  if (!InsertAttributeBytes(ext->image, t->recordSize, instance.data(),
                            static_cast<uint32_t>(instance.size()))) {
    return kErrOverflowWhileListing;
  }
  return ExtendList(t, chain, type, static_cast<uint32_t>(firstVcn), ext, AttrIdentifier(last));
}

}  // namespace

// The MFT's own data never leaves record 0: its extension records could not
// be found without it. Any failure gives the new record back (nothing on
// disk names it yet) and leaves the chain's images as they were.
int32_t OverflowIntoExtension(Toolkit* t, RecordChain& chain, uint32_t type) {
  RecordBuffer* base = chain.head;
  if (base == nullptr || base->recordNumber == record::kMft) return kErrAddNoRoom;
  RecordBuffer* lastHolder = nullptr;
  uint8_t* last = FindLastAttribute(t, chain, type, &lastHolder);
  if (last == nullptr || !AttrIsNonResident(last)) return kErrNoTypeToOverflow;
  if (lastHolder != base &&
      FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST) == nullptr) {
    return kErrExtentListNonResident;
  }
  std::vector<uint8_t> snapshot;
  try {
    snapshot.assign(base->image, base->image + t->recordSize);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  RecordChain scratch;
  RecordBuffer* ext = nullptr;
  int32_t error = NewExtensionRecord(t, chain, scratch, ext);
  if (error != kOk) return error;
  error = lastHolder == base ? SplitBaseInstance(t, chain, type, last, ext)
                             : StartInstance(t, chain, type, last, ext);
  if (error != kOk) {
    std::memcpy(base->image, snapshot.data(), t->recordSize);
    SetRecordBit(t, kRecordFree, ext->recordNumber);
    return error;
  }
  base->dirty = 1;
  ext->dirty = 1;
  ext->fresh = 1;
  scratch.head = nullptr;  // the buffer moves into the chain
  if (RecordBuffer* tail = chain.Last()) tail->next = ext;
  return kOk;
}

}  // namespace vrax
