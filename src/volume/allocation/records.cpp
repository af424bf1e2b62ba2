// MFT record allocation through record 0's AT_BITMAP.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/allocation/bits.h"
#include "volume/attributes/attributes.h"
#include "volume/format/fixup.h"
#include "volume/format/record.h"
#include "volume/toolkit/damage.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

constexpr uint32_t kMftGrowthRecords = 128;
// Growth steps of a large MFT: each growth that cannot continue the MFT's
// last run adds a run to record 0, so an MFT grown 128 records at a time
// while files fill the clusters behind it fills record 0 with runs after a
// few thousand records (sooner with small clusters). Growing by half of
// what it holds, in whole steps of 128 and at most 4096 records (whose
// bitmap bytes fit one chunk and whose images one work buffer), keeps the
// number of runs logarithmic in the number of records.
constexpr uint32_t kMftGrowthMaxRecords = 4096;

uint32_t GrowthRecords(uint32_t held) {
  const uint32_t half = held / 2 / kMftGrowthRecords * kMftGrowthRecords;
  return std::clamp(half, kMftGrowthRecords, kMftGrowthMaxRecords);
}

int32_t MftTransfer(Toolkit* t, uint32_t type, uint8_t* buffer, uint32_t count, uint32_t offset,
                    uint32_t& done, int mode) {
  return AttributeTransfer(t, type, t->mftChain, buffer, count, offset, done, mode);
}

// A free record may still hold what a removed file was. Before it is
// marked in use it is emptied (on disk), so that a crash between marking
// it and writing what it becomes leaves an empty record marked in use (a
// leak), never an old file that the repair would bring back.
int32_t ClearOldContents(Toolkit* t, uint32_t n) {
  RecordChain scratch;
  RecordBuffer* b = AllocRecordBuffer(t, scratch);
  if (b == nullptr) return kErrNotEnoughMemory;
  if (ReadRecordQuietly(t, n, b) != kOk || RecordAttributeCount(b->image) == 0) return kOk;
  BuildEmptyRecord(b->image, t->recordSize, t->bytesPerSector,
                   PreviousSequenceNumber(b->image, t->recordSize));
  return WriteRecord(t, n, b);
}

// Searches the record bitmap chunk by chunk for a clear bit below the number
// of records held; sets it and writes the chunk back when found.
int32_t SearchFreeRecord(Toolkit* t, uint32_t& recordNumber, bool& found) {
  found = false;
  uint8_t* chunk = ToolkitChunkBuffer(t);
  if (chunk == nullptr) return kErrNotEnoughMemory;
  const uint32_t held = RecordsHeld(t);
  for (uint64_t offset = 0; offset * 8 < held; offset += t->chunkSize) {
    uint32_t done = 0;
    int32_t error = MftTransfer(t, AT_BITMAP, chunk, t->chunkSize,
                                static_cast<uint32_t>(offset), done, kTransferRead);
    if (error != kOk) return error;
    if (done == 0) return kErrRecordBitmapEmpty;
    const uint64_t limit = std::min<uint64_t>(8ull * done, held - offset * 8);
    uint32_t bit = 0;
    if (AllocateBits(chunk, done, 1, bit, static_cast<uint32_t>(limit)) == 0) {
      recordNumber = bit + 8 * static_cast<uint32_t>(offset);
      error = ClearOldContents(t, recordNumber);
      if (error == kOk) {
        error = BitmapWrite(t, t->mftChain, AT_BITMAP, chunk, done, static_cast<uint32_t>(offset));
      }
      if (error != kOk) return error;
      found = true;
      return kOk;
    }
  }
  return kOk;
}

// Appends never-used records to the MFT (GrowthRecords) and grows its
// bitmap to match. The new records and the new bitmap bytes are written
// into the fresh clusters first; record 0, which names them, is written
// last, once.
int32_t GrowMftSteps(Toolkit* t, uint32_t oldLength) {
  const uint32_t growth = GrowthRecords(oldLength / t->recordSize);
  const uint64_t newLength = oldLength + static_cast<uint64_t>(growth) * t->recordSize;
  if (newLength > MaxValueSize(t)) return kErrIncorrectSize;
  int32_t error = SetAttributeSize(t, t->mftChain, AT_DATA, static_cast<uint32_t>(newLength));
  if (error != kOk) return error;
  std::vector<uint8_t> records;
  try {
    records.assign(static_cast<size_t>(growth) * t->recordSize, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  for (uint32_t i = 0; i < growth; ++i) {
    uint8_t* image = records.data() + static_cast<size_t>(i) * t->recordSize;
    BuildEmptyRecord(image, t->recordSize, t->bytesPerSector);
    FixupBeforeWrite(image, t->recordSize);
  }
  uint32_t done = 0;
  error = MftTransfer(t, AT_DATA, records.data(), static_cast<uint32_t>(records.size()), oldLength,
                      done, kTransferWrite);
  if (error == kOk && done != records.size()) error = Corruption();
  if (error != kOk) return error;
  uint32_t bitmapLength = 0;
  error = AttributeSize(t, t->mftChain, AT_BITMAP, bitmapLength);
  if (error != kOk) return error;
  const uint32_t wantedLength = static_cast<uint32_t>(newLength / t->recordSize / 8);
  if (bitmapLength != wantedLength) {
    const uint32_t grow = wantedLength - bitmapLength;
    if (wantedLength < bitmapLength || grow > t->chunkSize) return kErrInvalidFunction;
    error = SetAttributeSize(t, t->mftChain, AT_BITMAP, wantedLength);
    if (error != kOk) return error;
    // A resident bitmap gains zero bytes in the record itself; bytes in
    // fresh clusters are zeroed there before record 0 counts them.
    const uint8_t* bitmap = FindAttribute(t, t->mftChain, AT_BITMAP);
    if (bitmap != nullptr && AttrIsNonResident(bitmap)) {
      std::vector<uint8_t> zeros(grow, 0);
      error = MftTransfer(t, AT_BITMAP, zeros.data(), grow, bitmapLength, done, kTransferWrite);
      if (error != kOk) return error;
    }
  }
  return CommitChain(t, t->mftChain);
}

// A growth that fails half-way gives its clusters back and leaves record 0
// as it was.
int32_t GrowMft(Toolkit* t) {
  uint32_t oldLength = 0;
  int32_t error = AttributeSize(t, t->mftChain, AT_DATA, oldLength);
  if (error != kOk) return error;
  uint32_t oldBitmap = 0;
  error = AttributeSize(t, t->mftChain, AT_BITMAP, oldBitmap);
  if (error != kOk) return error;
  error = GrowMftSteps(t, oldLength);
  if (error == kOk) return kOk;
  SetAttributeSize(t, t->mftChain, AT_BITMAP, oldBitmap);
  SetAttributeSize(t, t->mftChain, AT_DATA, oldLength);
  CommitChain(t, t->mftChain, ChainOrder::kShrink);
  return error;
}

}  // namespace

int32_t AllocateRecord(Toolkit* t, uint32_t& recordNumber) {
  int32_t error = RefreshMftChain(t);
  if (error != kOk) return error;
  uint32_t bitmapLength = 0;
  error = AttributeSize(t, t->mftChain, AT_BITMAP, bitmapLength);
  if (error != kOk) return error;
  if (bitmapLength < RecordsHeld(t) / 8) {
    return VolumeDamage(t, "the MFT's record bitmap is shorter than its records");
  }
  bool found = false;
  error = SearchFreeRecord(t, recordNumber, found);
  if (error != kOk || found) return error;
  error = GrowMft(t);
  if (error != kOk) return error;
  error = SearchFreeRecord(t, recordNumber, found);
  if (error == kOk && !found) error = kErrRecordBitmapEmpty;
  return error;
}

int32_t RecordInUse(Toolkit* t, uint32_t n, bool& inUse) {
  inUse = false;
  if (n >= RecordsHeld(t)) return kErrBeyondAllocation;
  uint8_t byte = 0;
  uint32_t done = 0;
  const int32_t error = MftTransfer(t, AT_BITMAP, &byte, 1, n / 8, done, kTransferRead);
  if (error != kOk) return error;
  inUse = done == 1 && ((byte >> (n % 8)) & 1) != 0;
  return kOk;
}

int32_t SetRecordBit(Toolkit* t, int mode, uint32_t n) {
  const int32_t refreshed = RefreshMftChain(t);
  if (refreshed != kOk) return refreshed;
  uint8_t* chunk = ToolkitChunkBuffer(t);
  if (chunk == nullptr) return kErrNotEnoughMemory;
  if (n >= RecordsHeld(t)) return kErrBeyondAllocation;
  uint32_t done = 0;
  int32_t error = MftTransfer(t, AT_BITMAP, chunk, t->chunkSize, n / 8, done, kTransferRead);
  if (error != kOk) return error;
  if (done == 0) return kErrRecordBitmapEmpty;
  const uint8_t mask = static_cast<uint8_t>(1u << (n % 8));
  chunk[0] = mode == kRecordInUse ? (chunk[0] | mask) : (chunk[0] & static_cast<uint8_t>(~mask));
  return BitmapWrite(t, t->mftChain, AT_BITMAP, chunk, 1, n / 8);
}

}  // namespace vrax
