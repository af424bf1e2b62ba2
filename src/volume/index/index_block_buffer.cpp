// Edits of one INDX block image in memory: append, insert, remove first.
//
// Each edit first checks the header and walks the entries (ScanBlock), then
// checks the room: bytes in use + the entry length must not exceed bytes
// allocated. Since the walk keeps every entry inside 0x18 + bytes in use and
// the header check keeps bytes allocated inside the block, the moved bytes
// end at most at 0x18 + bytes allocated <= the block size.
#include <cstring>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/index/index_node_edit.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

bool EntryLengthUsable(const uint8_t* entry) { return EntryLength(entry) >= ie::kMinEntry; }

void AddBytesInUse(uint8_t* block, int64_t delta) {
  SetBlockBytesInUse(block, static_cast<uint32_t>(BlockBytesInUse(block) + delta));
}

}  // namespace

// A keyless last entry moves up and the new entry takes its place; a named
// last entry (never written by this engine) keeps its place and hands the
// last flag to the new entry behind it.
int32_t IndexBlockAppend(uint8_t* block, uint32_t blockSize, const uint8_t* entry) {
  NodeExtent x;
  const int32_t error = ScanBlock(block, blockSize, x);
  if (error != kOk) return error;
  if (!EntryLengthUsable(entry)) return kErrInvalidParameter;
  const uint32_t length = EntryLength(entry);
  if (length > BlockRoom(block)) return kErrBlockAppendNoRoom;
  uint8_t* last = block + x.lastEntry;
  if (EntryIsKeyless(last)) {
    std::memmove(last + length, last, x.lastEnd - x.lastEntry);
    std::memcpy(last, entry, length);
    last[ie::kFlags] &= static_cast<uint8_t>(~ie::kLast);
  } else {
    uint8_t* copy = block + x.lastEnd;
    std::memcpy(copy, entry, length);
    copy[ie::kFlags] |= ie::kLast;
    last[ie::kFlags] &= static_cast<uint8_t>(~ie::kLast);
  }
  AddBytesInUse(block, length);
  return kOk;
}

int32_t IndexBlockInsertAt(uint8_t* block, uint32_t blockSize, uint32_t at,
                           const uint8_t* entry) {
  NodeExtent x;
  const int32_t error = ScanBlock(block, blockSize, x, at);
  if (error != kOk) return error;
  if (!x.atFound) return Corruption();
  if (!EntryLengthUsable(entry)) return kErrInvalidParameter;
  const uint32_t length = EntryLength(entry);
  if (length > BlockRoom(block)) return kErrBlockInsertNoRoom;
  std::memmove(block + at + length, block + at, x.lastEnd - at);
  std::memcpy(block + at, entry, length);
  AddBytesInUse(block, length);
  return kOk;
}

int32_t IndexBlockRemoveFirst(uint8_t* block, uint32_t blockSize) {
  NodeExtent x;
  const int32_t error = ScanBlock(block, blockSize, x);
  if (error != kOk) return error;
  if (x.start == x.lastEntry) return Corruption();  // the end entry stays
  const uint32_t length = EntryLength(block + x.start);
  std::memmove(block + x.start, block + x.start + length, x.lastEnd - x.start - length);
  AddBytesInUse(block, -static_cast<int64_t>(length));
  return kOk;
}

}  // namespace vrax
