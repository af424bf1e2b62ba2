#include "volume/format/index_node.h"

#include <cstring>

namespace vrax {

void WriteEndEntry(uint8_t* at, bool hasSubNode, uint32_t subNodeVcn) {
  std::memset(at, 0, ie::kEndEntrySize);
  PutLE16(at + ie::kLength, ie::kEndEntrySize);
  at[ie::kFlags] = hasSubNode ? (ie::kLast | ie::kHasSubNode) : ie::kLast;
  if (hasSubNode) PutLE64(at + ie::kKey, subNodeVcn);
}

void BuildEmptyRoot(uint8_t* out) {
  std::memset(out, 0, ie::kNewRootSize);
  WriteEndEntry(out + ie::kRootFirstEntry, false, 0);
}

void BuildEmptyBlock(uint8_t* out, uint32_t blockSize, uint32_t bytesPerSector, uint32_t vcn) {
  std::memset(out, 0, blockSize);
  std::memcpy(out, "INDX", 4);
  const uint32_t count = blockSize / bytesPerSector + 1;
  PutLE16(out + 0x04, indx::kUsa);
  PutLE16(out + 0x06, static_cast<uint16_t>(count));
  PutLE64(out + indx::kVcn, vcn);
  const uint32_t entries = 2 * count + 0x64;
  PutLE32(out + indx::kEntriesOffset, entries);
  PutLE32(out + indx::kBytesInUse, entries + 0x30);
  PutLE32(out + indx::kBytesAllocated, blockSize - indx::kNodeHeader);
  PutLE16(out + indx::kUsa, 1);
  WriteEndEntry(out + indx::kNodeHeader + entries, false, 0);
}

bool BlockHeaderIsSound(const uint8_t* block, uint32_t blockSize) {
  if (blockSize < indx::kUsa) return false;
  const uint32_t room = blockSize - indx::kNodeHeader;
  const uint32_t entries = BlockEntriesOffset(block);
  const uint32_t inUse = BlockBytesInUse(block);
  const uint32_t allocated = BlockBytesAllocated(block);
  return allocated <= room && inUse <= allocated && entries < inUse &&
         entries >= indx::kUsa - indx::kNodeHeader;
}

uint8_t* IndexEntryWalk::Next() {
  if (done_ || malformed_) return nullptr;
  if (!InBounds(pos_, ie::kMinEntry, end_)) {
    malformed_ = true;  // the node ended without its last entry
    return nullptr;
  }
  uint8_t* e = node_ + pos_;
  const uint32_t length = EntryLength(e);
  bool sound = length >= ie::kMinEntry && InBounds(pos_, length, end_);
  if (sound && EntryHasSubNode(e)) sound = length >= ie::kEndEntrySize;
  if (sound && !EntryIsKeyless(e)) {
    sound = length >= ie::kName &&
            ie::kName + 2u * EntryNameLength(e) + (EntryHasSubNode(e) ? 8u : 0u) <= length;
  }
  if (!sound) {
    malformed_ = true;
    return nullptr;
  }
  current_ = pos_;
  pos_ += length;
  if (EntryIsLast(e)) done_ = true;
  return e;
}

}  // namespace vrax
