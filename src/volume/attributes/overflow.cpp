// Continuing a non-resident value in a new extension record when its
// record has no room for another run.
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

// A fresh extension record of the base record, in the chain's memory only.
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
  BuildEmptyRecord(record->image, t->recordSize, t->bytesPerSector);
  record->recordNumber = number;
  SetRecordFlags(record->image,
                 RecordFlags(chain.head->image) | record::kFlagInUse);
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

// Room the base record needs for a list of `entries` entries, counting
// what leaves it.
bool ListFits(const uint8_t* base, uint32_t entries, uint32_t leaving) {
  const uint32_t listSize = attr::kResidentHeader + entries * kAttributeListEntrySize;
  return listSize <= RecordFreeRoom(base) + leaving && entries * kAttributeListEntrySize <= 0xFFFF;
}

// The base record has no list yet: the attribute moves whole into a new
// record and a list naming every attribute is created in the base record.
int32_t CreateList(Toolkit* t, RecordChain& chain, uint32_t type, RecordBuffer* ext) {
  RecordBuffer* base = chain.head;
  uint8_t* a = FindAttributeInRecord(base->image, t->recordSize, type);
  if (a == nullptr) return kErrNoTypeToOverflow;
  std::vector<uint8_t> moved(a, a + AttrLength(a));
  if (!InsertAttributeBytes(ext->image, t->recordSize, moved.data(),
                            static_cast<uint32_t>(moved.size()))) {
    return kErrOverflowWhileListing;
  }
  RemoveAttributeBytes(base->image, t->recordSize, a);
  int32_t error = AddAttribute(base->image, t->recordSize, AT_ATTRIBUTE_LIST, nullptr);
  const uint32_t entries = RecordAttributeCount(base->image);  // the others and the moved one
  uint8_t* list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (error == kOk) {
    error = ResizeResident(t, chain, AT_ATTRIBUTE_LIST, list, base,
                           entries * kAttributeListEntrySize);
  }
  if (error != kOk) return error;
  list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  uint8_t* out = AttrValue(list);
  AttributeWalk walk(base->image, t->recordSize);
  while (const uint8_t* other = walk.Next()) {
    if (AttrType(other) == AT_ATTRIBUTE_LIST) continue;
    PutEntry(out, AttrType(other), 0, base->recordNumber, AttrIdentifier(other));
    out += kAttributeListEntrySize;
  }
  PutEntry(out, type, 0, ext->recordNumber, AttrIdentifier(moved.data()));
  return kOk;
}

// The base record has a list: either the attribute still lives in the base
// record and moves whole, or a new instance continues the value right after
// the clusters the last instance covers.
int32_t ContinueList(Toolkit* t, RecordChain& chain, uint32_t type, RecordBuffer* ext) {
  RecordBuffer* base = chain.head;
  uint8_t* inBase = FindAttributeInRecord(base->image, t->recordSize, type);
  uint8_t* list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (list == nullptr || AttrIsNonResident(list)) return kErrExtentListNonResident;
  if (inBase != nullptr && FindLastAttribute(t, chain, type) == inBase) {
    return kErrNoTypeToOverflow;  // the value's only instance fills the base record
  }
  RecordBuffer* lastHolder = nullptr;
  uint8_t* last = FindLastAttribute(t, chain, type, &lastHolder);
  uint64_t covered = 0;
  if (last == nullptr || !RunListClusters(last, covered)) return kErrOverflowMissingInstance;
  const uint64_t firstVcn = AttrFirstVcn(last) + covered;
  if (firstVcn > 0xFFFFFFFFull) return kErrIncorrectSize;
  const uint32_t nameLength = AttrNameLength(last);
  const uint32_t headerSize = 0x4C + 2 * nameLength;
  std::vector<uint8_t> header(headerSize, 0);
  std::memcpy(header.data(), last, 16);
  PutLE32(header.data() + attr::kLength, headerSize);
  header[attr::kNameOffset] = attr::kNonResidentHeader;
  PutLE16(header.data() + attr::kRunListOffset,
          static_cast<uint16_t>(attr::kNonResidentHeader + 2 * nameLength));
  std::memcpy(header.data() + attr::kNonResidentHeader, last + AttrNameOffset(last), 2 * nameLength);
  PutLE64(header.data() + attr::kFirstVcn, firstVcn);
  if (!InsertAttributeBytes(ext->image, t->recordSize, header.data(), headerSize)) {
    return kErrOverflowWhileListing;
  }
  const uint32_t size = AttrValueLength(list);
  int32_t error = ResizeResident(t, chain, AT_ATTRIBUTE_LIST, list, base,
                                 size + kAttributeListEntrySize);
  if (error != kOk) return error;
  list = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (list == nullptr || AttrIsNonResident(list)) return kErrAddNoRoom;
  PutEntry(AttrValue(list) + size, type, static_cast<uint32_t>(firstVcn), ext->recordNumber,
           AttrIdentifier(last));
  return kOk;
}

}  // namespace

// The MFT's own data never leaves record 0: its extension records could not
// be found without it. The new record is written before the base record
// names it; any failure gives the record back and leaves the chain's images
// as they were.
int32_t OverflowIntoExtension(Toolkit* t, RecordChain& chain, uint32_t type) {
  RecordBuffer* base = chain.head;
  if (base == nullptr || base->recordNumber == record::kMft) return kErrAddNoRoom;
  const bool hasList = FindAttributeInRecord(base->image, t->recordSize, AT_ATTRIBUTE_LIST) != nullptr;
  const uint32_t entries = hasList ? 1 : RecordAttributeCount(base->image);
  const uint8_t* inBase = FindAttributeInRecord(base->image, t->recordSize, type);
  if (!ListFits(base->image, entries, hasList ? 0 : (inBase ? AttrLength(inBase) : 0))) {
    return kErrAddNoRoom;
  }
  std::vector<uint8_t> snapshot(base->image, base->image + t->recordSize);
  RecordChain scratch;
  RecordBuffer* ext = nullptr;
  int32_t error = NewExtensionRecord(t, chain, scratch, ext);
  if (error != kOk) return error;
  const uint32_t number = ext->recordNumber;
  error = hasList ? ContinueList(t, chain, type, ext) : CreateList(t, chain, type, ext);
  if (error == kOk) error = WriteRecord(t, number, ext);
  if (error == kOk) {
    base->dirty = 1;
    error = WriteChain(t, chain);
  }
  if (error != kOk) {
    std::memcpy(base->image, snapshot.data(), t->recordSize);
    SetRecordBit(t, kRecordFree, number);
    return error;
  }
  scratch.head = nullptr;  // the buffer moves into the chain
  if (RecordBuffer* tail = chain.Last()) tail->next = ext;
  return kOk;
}

}  // namespace vrax
