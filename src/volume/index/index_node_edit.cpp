// Bounded views of index nodes in buffers, sub-node links, block geometry.
#include "volume/index/index_node_edit.h"

#include <new>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"

namespace vrax {

int32_t ScanEntries(uint8_t* node, uint32_t start, uint32_t end, NodeExtent& extent,
                    uint32_t at) {
  extent = NodeExtent{};
  extent.start = start;
  IndexEntryWalk walk(node, start, end);
  bool sawLast = false;
  while (uint8_t* e = walk.Next()) {
    if (walk.offset() == at) extent.atFound = true;
    if (!EntryIsKeyless(e)) extent.hasNamed = true;
    if (EntryIsLast(e)) {
      extent.lastEntry = walk.offset();
      extent.lastEnd = walk.offset() + EntryLength(e);
      sawLast = true;
    }
  }
  return walk.malformed() || !sawLast ? Corruption() : kOk;
}

// Besides the header check, the entries must lie behind the update sequence
// array: the fix-ups applied when the block is written would otherwise
// overwrite entry bytes.
int32_t ScanBlock(uint8_t* block, uint32_t blockSize, NodeExtent& extent, uint32_t at) {
  if (!BlockHeaderIsSound(block, blockSize)) return Corruption();
  const uint32_t start = BlockEntriesStart(block);
  const uint32_t usaEnd = GetLE16(block + 0x04) + 2u * GetLE16(block + 0x06);
  if (GetLE16(block + 0x06) != 0 && usaEnd > start) return Corruption();
  return ScanEntries(block, start, BlockEntriesEnd(block), extent, at);
}

bool EntryCanHoldSubNode(const uint8_t* entry) {
  const uint32_t length = EntryLength(entry);
  if (EntryIsKeyless(entry)) return length >= ie::kEndEntrySize;
  return length >= ie::kName + 2u * EntryNameLength(entry) + 8;
}

void LinkSubNode(uint8_t* entry, uint32_t vcn) {
  entry[ie::kFlags] |= ie::kHasSubNode;
  SetEntrySubNode(entry, vcn);
}

void UnlinkSubNode(uint8_t* entry) {
  entry[ie::kFlags] &= static_cast<uint8_t>(~ie::kHasSubNode);
  SetEntrySubNode(entry, 0);
}

bool IndexBlocksAddressable(const Toolkit* t) {
  return t->clusterSize != 0 && t->indexBlockSize >= t->clusterSize &&
         t->indexBlockSize % t->clusterSize == 0 && t->bytesPerSector != 0;
}

uint32_t FreshBlockRoom(const Toolkit* t) {
  const uint32_t B = t->indexBlockSize;
  const uint32_t count = B / t->bytesPerSector + 1;
  const uint64_t inUse = 2ull * count + 0x64 + 0x30;
  const uint64_t allocated = B - indx::kNodeHeader;
  return allocated > inUse ? static_cast<uint32_t>(allocated - inUse) : 0;
}

int32_t ReadBlockForUpdate(Toolkit* t, RecordChain& directory, uint32_t vcn, IndexNode& node,
                           std::unordered_set<uint32_t>& visited) {
  const int32_t error = ReadBlockNode(t, directory, vcn, node, visited);
  if (error != kOk) return error;
  return BlockVcn(node.data.data()) == vcn ? kOk : Corruption();
}

int32_t CheckEmptyNode(IndexNode& node) {
  NodeExtent x;
  const int32_t error = ScanNode(node, x);
  if (error != kOk) return error;
  if (x.hasNamed || EntryHasSubNode(node.data.data() + x.lastEntry)) return Corruption();
  return kOk;
}

int32_t WriteRootNode(Toolkit* t, RecordChain& directory, IndexNode& root) {
  uint32_t done = 0;
  const int32_t error = AttributeTransfer(t, AT_INDEX_ROOT, directory, root.data.data(),
                                          root.end, 0, done, kTransferWrite);
  if (error != kOk) return error;
  if (done != root.end) return Corruption();
  return WriteChain(t, directory);
}

}  // namespace vrax
