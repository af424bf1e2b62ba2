// Helpers shared by the index update code: bounded views of the entries of
// a node in a buffer, sub-node links, and the geometry of index blocks.
#pragma once

#include <cstdint>

#include "volume/format/index_node.h"
#include "volume/index/index_node_io.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

// Where the entries of a node lie in its buffer, as a bounded walk found
// them: every entry lies inside [start, lastEnd), and lastEnd lies inside
// the bytes the node may use.
struct NodeExtent {
  uint32_t start = 0;      // offset of the first entry
  uint32_t lastEntry = 0;  // offset of the entry with the last flag
  uint32_t lastEnd = 0;    // end of that entry
  bool hasNamed = false;   // some entry is longer than 0x18 bytes
  bool atFound = false;    // an entry starts at the offset asked about
};

// Walks the entries in [start, end): 114 when the walk finds them unsound
// (see IndexEntryWalk). `at` names an offset to look for (atFound).
int32_t ScanEntries(uint8_t* node, uint32_t start, uint32_t end, NodeExtent& extent,
                    uint32_t at = 0);

// Checks the header of a block image and walks its entries.
int32_t ScanBlock(uint8_t* block, uint32_t blockSize, NodeExtent& extent, uint32_t at = 0);

inline int32_t ScanNode(IndexNode& node, NodeExtent& extent, uint32_t at = 0) {
  return ScanEntries(node.data.data(), node.start, node.end, extent, at);
}

// Free room of a sound block: bytes allocated minus bytes in use.
inline uint32_t BlockRoom(const uint8_t* block) {
  return BlockBytesAllocated(block) - BlockBytesInUse(block);
}

// True when the entry has room for a sub-node field behind its key: an
// entry the walker accepted without flag 0x01 may be shorter than that.
bool EntryCanHoldSubNode(const uint8_t* entry);

// Sets flag 0x01 and the sub-node VCN (the entry can hold it).
void LinkSubNode(uint8_t* entry, uint32_t vcn);
// Clears flag 0x01 and sets the sub-node field to 0.
void UnlinkSubNode(uint8_t* entry);

// Blocks can be addressed by VCN only when a block holds whole clusters.
bool IndexBlocksAddressable(const Toolkit* toolkit);
inline uint32_t ClustersPerIndexBlock(const Toolkit* toolkit) {
  return toolkit->indexBlockSize / toolkit->clusterSize;
}

// Room for entries in a block as IndexBlockInit lays it out.
uint32_t FreshBlockRoom(const Toolkit* toolkit);


// Reads block `vcn` for changing it: as ReadBlockNode, and the VCN in its
// header must be `vcn`, so writing it back at that VCN rewrites the very
// place it came from (114 otherwise).
int32_t ReadBlockForUpdate(Toolkit* toolkit, RecordChain& directory, uint32_t vcn,
                           IndexNode& node, std::unordered_set<uint32_t>& visited);

// A block just taken from the bitmap must be an empty node: one holding
// names or a link is still in use somewhere, whatever the bitmap says, and
// taking it over would graft a foreign sub-tree into the index (114).
int32_t CheckEmptyNode(IndexNode& node);

// Writes a changed root value back with the length it was read with, then
// the directory's records.
int32_t WriteRootNode(Toolkit* toolkit, RecordChain& directory, IndexNode& root);

}  // namespace vrax
