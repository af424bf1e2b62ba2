// FILE records through the MFT's AT_DATA, and the loading of extension
// records that a base record's attribute list names.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/dump/dump.h"
#include "volume/format/attribute_list.h"
#include "volume/format/fixup.h"
#include "volume/format/record.h"
#include "volume/toolkit/damage.h"
#include "volume/toolkit/toolkit.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

// Attribute lists may name records whose own lists name more records; a
// nesting deeper than this can only come from a damaged volume.
constexpr int kMaxListNesting = 16;

}  // namespace

RecordBuffer* AllocRecordBuffer(Toolkit* t, RecordChain& chain) {
  return AllocRecordBuffer(t->recordSize, chain);
}

uint32_t RecordsHeld(Toolkit* t) {
  uint32_t size = 0;
  if (t->recordSize == 0 || AttributeSize(t, t->mftChain, AT_DATA, size) != kOk) return 0;
  return size / t->recordSize;
}

namespace {

// Each failed check sets `error` where it fires, so the error keeps the
// location of the check that found the damage.
const char* ReadRecordSteps(Toolkit* t, uint32_t n, RecordBuffer* b, int32_t& error) {
  b->image[0] = 0;
  if (n >= RecordsHeld(t)) {
    error = Corruption();
    return "lies beyond the MFT";
  }
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_DATA, t->mftChain, b->image, t->recordSize, n * t->recordSize,
                            done, kTransferRead);
  if (error != kOk) return nullptr;
  b->onDisk.clear();
  if (done != t->recordSize || !HasRecordMagic(b->image)) {
    error = Corruption();
    return "has no FILE magic";
  }
  try {
    b->onDisk.assign(b->image, b->image + t->recordSize);
  } catch (const std::bad_alloc&) {
    b->onDisk.clear();
  }
  if ((error = FixupAfterRead(b->image, t->recordSize)) != kOk) {
    return "fails its update sequence check";
  }
  if ((error = ValidateRecord(b->image, t->recordSize, t->clusterCount)) != kOk) {
    return "is malformed";
  }
  b->recordNumber = n;
  b->dirty = 0;
  error = kOk;
  return nullptr;
}

}  // namespace

int32_t ReadRecordQuietly(Toolkit* t, uint32_t n, RecordBuffer* b) {
  int32_t error = kOk;
  ReadRecordSteps(t, n, b, error);
  return error;
}

// A record that cannot be trusted is damage: the line names the path the
// Toolkit serves and the record.
int32_t ReadRecord(Toolkit* t, uint32_t n, RecordBuffer* b) {
  int32_t error = kOk;
  if (const char* what = ReadRecordSteps(t, n, b, error)) {
    const std::string text = "record " + std::to_string(n) + " " + what;
    ReportVolumeDamage(t, text.c_str());
  }
  return error;
}

uint16_t PreviousSequenceNumber(const uint8_t* image, uint32_t size) {
  if (!HasRecordMagic(image)) return 0;
  const uint32_t array = GetLE16(image + record::kUsaOffset);
  return array + 2 <= size ? GetLE16(image + array) : 0;
}

// The one sector in which the disk form `disk` differs from what the disk
// holds: 0 when none differs, -1 when more than one does or what the disk
// holds is unknown.
int64_t OnlyChangedSector(const Toolkit* t, const RecordBuffer* b, const uint8_t* disk) {
  if (b->onDisk.size() != t->recordSize || t->bytesPerSector == 0) return -1;
  int64_t changed = 0;
  for (uint32_t at = 0; at < t->recordSize; at += t->bytesPerSector) {
    const uint32_t length = std::min(t->bytesPerSector, t->recordSize - at);
    if (std::memcmp(disk + at, b->onDisk.data() + at, length) == 0) continue;
    if (changed != 0) return -1;
    changed = at / t->bytesPerSector + 1;
  }
  return changed;
}

// The record's disk form: the image with its fix-ups applied.
int32_t DiskForm(const Toolkit* t, const RecordBuffer* b, std::vector<uint8_t>& disk) {
  try {
    disk.assign(b->image, b->image + t->recordSize);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  return FixupBeforeWrite(disk.data(), t->recordSize) == kOk ? kOk : Corruption();
}

// The fix-ups are applied to a copy: the image stays as it was, and the run
// lookup of the MFT's own data never sees a record 0 in its on-disk form.
// A change confined to one sector is written as that sector alone, with the
// update sequence number unchanged: a sector reaches the disk whole or not
// at all, so nothing can tear. A wider change advances the number first, so
// that a write torn between sectors fails the check after reading.
int32_t WriteRecord(Toolkit* t, uint32_t n, RecordBuffer* b) {
  if (!HasRecordMagic(b->image)) return Corruption();
  if (n >= RecordsHeld(t)) return Corruption();
  b->dirty = 0;
  b->fresh = 0;
  std::vector<uint8_t> disk;
  int32_t error = DiskForm(t, b, disk);
  if (error != kOk) return error;
  const int64_t sector = OnlyChangedSector(t, b, disk.data());
  if (sector == 0) return kOk;
  if (sector < 0) {
    AdvanceUpdateSequence(b->image, t->recordSize);
    error = DiskForm(t, b, disk);
    if (error != kOk) return error;
  }
  uint32_t from = 0, count = t->recordSize;
  if (sector > 0) {
    from = static_cast<uint32_t>(sector - 1) * t->bytesPerSector;
    count = std::min(t->bytesPerSector, t->recordSize - from);
  }
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_DATA, t->mftChain, disk.data() + from, count,
                            n * t->recordSize + from, done, kTransferWrite);
  if (error == kOk && done != count) error = Corruption();
  if (error == kOk) {
    b->onDisk.swap(disk);
  } else {
    b->onDisk.clear();  // what reached the disk is unknown now
  }
  return error;
}

namespace {

int32_t WriteExtensions(Toolkit* t, RecordChain& chain, bool fresh) {
  for (RecordBuffer* b = chain.head->next; b != nullptr; b = b->next) {
    if (!b->dirty || (b->fresh != 0) != fresh) continue;
    const int32_t error = WriteRecord(t, b->recordNumber, b);
    if (error != kOk) return error;
  }
  return kOk;
}

}  // namespace

// Records that never reached the disk are written before anything can name
// them; then, growing, the other extension records before the base record,
// shrinking, after it.
int32_t WriteChain(Toolkit* t, RecordChain& chain, ChainOrder order) {
  RecordBuffer* base = chain.head;
  if (base == nullptr) return kOk;
  int32_t error = WriteExtensions(t, chain, true);
  if (error == kOk && order == ChainOrder::kGrow) error = WriteExtensions(t, chain, false);
  if (error == kOk && base->dirty) error = WriteRecord(t, base->recordNumber, base);
  if (error == kOk && order == ChainOrder::kShrink) error = WriteExtensions(t, chain, false);
  return error;
}

int32_t CommitChain(Toolkit* t, RecordChain& chain, ChainOrder order) {
  const int32_t error = WriteChain(t, chain, order);
  if (error != kOk) {
    DropPendingFrees(t, &chain);
    return error;
  }
  return ApplyPendingFrees(t, &chain);
}

namespace {

// Reads the whole resident list value; prints it piece by piece (a piece is
// one cluster) as it has always been printed while loading.
int32_t ReadListValue(Toolkit* t, uint8_t* list, std::vector<uint8_t>& value, bool print) {
  if (AttrIsNonResident(list)) return kErrListNonResident;
  const uint32_t length = AttrValueLength(list);
  try {
    value.assign(AttrValue(list), AttrValue(list) + length);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  for (uint32_t at = 0; print && at < length; at += t->clusterSize) {
    const uint32_t piece = length - at < t->clusterSize ? length - at : t->clusterSize;
    DumpAttributeList(value.data() + at, piece);
  }
  return kOk;
}

int32_t LoadExtensionsNested(Toolkit* t, RecordChain& chain, RecordBuffer* b, int depth,
                             bool print) {
  uint8_t* list = FindAttributeInRecord(b->image, t->recordSize, AT_ATTRIBUTE_LIST);
  if (list == nullptr) return kOk;
  if (depth > kMaxListNesting) return Corruption();
  std::vector<uint8_t> value;
  int32_t error = ReadListValue(t, list, value, print);
  if (error != kOk) return error;
  uint32_t pos = 0;
  AttributeListEntry entry;
  for (;;) {
    const ListStatus status =
        DecodeAttributeListEntry(value.data(), static_cast<uint32_t>(value.size()), pos, entry);
    if (status == ListStatus::kEnd) return kOk;
    if (status == ListStatus::kMalformed) return Corruption();
    if (chain.Find(entry.record) != nullptr) continue;
    RecordBuffer* added = AllocRecordBuffer(t, chain);
    if (added == nullptr) return kErrNotEnoughMemory;
    error = ReadRecord(t, entry.record, added);
    if (error == kOk) error = LoadExtensionsNested(t, chain, added, depth + 1, print);
    if (error != kOk) return error;
  }
}

}  // namespace

int32_t LoadExtensions(Toolkit* t, RecordChain& chain, RecordBuffer* b) {
  return LoadExtensionsNested(t, chain, b, 0, true);
}

// The records of a chain stand in the order in which loading them showed
// their lists, so showing each record's list in chain order repeats it.
void ShowAttributeLists(Toolkit* t, const RecordChain& chain) {
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    uint8_t* list = FindAttributeInRecord(b->image, t->recordSize, AT_ATTRIBUTE_LIST);
    std::vector<uint8_t> value;
    if (list != nullptr) ReadListValue(t, list, value, true);
  }
}

int32_t RefreshChain(Toolkit* t, RecordChain& chain) {
  if (chain.head == nullptr) return kOk;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    if (b->dirty) return kOk;
  }
  return ReloadChain(t, chain);
}

int32_t ReloadChain(Toolkit* t, RecordChain& chain) {
  if (chain.head == nullptr) return kOk;
  // The re-read is silent: the attribute lists were shown when the chain
  // was first loaded.
  RecordChain fresh;
  RecordBuffer* b = AllocRecordBuffer(t, fresh);
  if (b == nullptr) return kErrNotEnoughMemory;
  int32_t error = ReadRecord(t, chain.head->recordNumber, b);
  if (error == kOk) error = LoadExtensionsNested(t, fresh, b, 0, false);
  if (error != kOk) return error;
  std::swap(chain.head, fresh.head);
  return kOk;
}

int32_t OpenRecord(Toolkit* t, RecordChain& chain, uint32_t n) {
  RecordBuffer* b = AllocRecordBuffer(t, chain);
  if (b == nullptr) return kErrNotEnoughMemory;
  int32_t error = ReadRecord(t, n, b);
  if (error == kOk) error = LoadExtensions(t, chain, b);
  return error;
}

}  // namespace vrax
