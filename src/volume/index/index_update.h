// Changing directory indexes ("$I30"): inserting and removing names, and
// allocating, freeing and growing the INDX blocks that hold them.
//
// Tree shape kept by these operations (other readers of the volume rely on
// it):
// - the root value holds only its end entry; after the first insertion that
//   end entry points to the directory's top block, so every name lives in a
//   block;
// - a full block is split as B-trees split: halves into two fresh blocks, the
//   split entry up into the parent, whose one write links the halves; the
//   top block splits in place (index_split.cpp), so the tree grows in height
//   only there. Volumes written by earlier versions hold chains instead
//   (each block linking one child under its first entry); both shapes are
//   read and changed alike;
// - any entry may carry a sub-node (the names before it), and so may a
//   block's end entry (the names behind its last entry);
// - nodes are never merged or rebalanced; a block left without named
//   entries is unlinked from its parent and its bitmap bit cleared at once;
// - the allocation grows by 128 blocks of 4096 bytes at a time (the same
//   byte size for larger blocks, 128 blocks for smaller ones) and never
//   shrinks; the bitmap always holds ceil(blocks / 8) bytes.
//
// Every node read from the volume is untrusted: entries are walked with the
// bounded walker, and a node whose header, entry lengths or sub-node links
// are unsound (including a link back to a block already visited) gives 114
// before anything is changed.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "volume/index/index_node_io.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

enum : int32_t {
  // Removing an entry with a sub-node whose next entry has one too: the two
  // sub-trees would have to be merged, which this engine never does. The
  // entry stays in the index.
  kErrRemoveSubNodesMeet = 0x8902,
  // Removing an entry with a sub-node whose next entry has no room for the
  // sub-node field that would have to take the link over.
  kErrRemoveNoSubNodeField = 0x8903,
};

// Adds `name` (n bytes, 1 to 255) with `recordNumber`. 0x7000 for n = 0,
// 161 for n > 255, 183 when the name is present in any letter case, 0x4500
// when the root's insertion point has no sub-node. A root value that reads
// as 0 bytes gives 0 and inserts nothing. A block ending in a named entry
// with the last flag (never written by this engine) that sorts before the
// name takes the new entry behind it; when that block is full the insertion
// is refused with 0x7101, since a split there would leave nothing in it.
// The bits of blocks allocated before a later failure stay set.
int32_t IndexInsert(Toolkit* toolkit, RecordChain& directory, const char* name, uint32_t n,
                    uint32_t recordNumber);

// Removes `name` and gives its record number; 3 when it is not present. A
// refusal (0x4500 for a root entry that cannot be taken out of the root,
// 0x8901, 0x8902, 0x8903) leaves the volume exactly as it was.
int32_t IndexRemove(Toolkit* toolkit, RecordChain& directory, const char* name, uint32_t n,
                    uint32_t& recordNumber);

// One block on the way down from the top block to the block that takes a
// name: `at` is the entry that led further down (in the last level, the
// insertion point).
struct IndexPathLevel {
  IndexNode node;
  uint32_t at = 0;
};

// Puts `entry` (a whole named entry) in front of the insertion point of the
// last block of `path`, which has no room for it, by splitting that block
// and, where they cannot take the entry moving up, its ancestors
// (index_split.cpp), and writes what changed.
int32_t IndexSplitPath(Toolkit* toolkit, RecordChain& directory,
                       std::vector<IndexPathLevel>& path, const uint8_t* entry);

// 114 (with the line of damage.h) when the index bitmap is shorter than
// the allocation's blocks need.
int32_t CheckIndexBitmap(Toolkit* toolkit, RecordChain& directory);

// Takes the first free block of the bitmap (growing the allocation when
// none is free) and gives its VCN.
int32_t IndexBlockAllocate(Toolkit* toolkit, RecordChain& directory, uint32_t& vcn);
// Clears the bitmap bit of block `vcn`; 0x7200 beyond the allocation.
int32_t IndexBlockFree(Toolkit* toolkit, RecordChain& directory, uint32_t vcn);
// Appends one growth step of fresh empty blocks and extends the bitmap.
int32_t IndexAllocationGrow(Toolkit* toolkit, RecordChain& directory);
// Builds an empty block in `block` (index block size bytes) for byte offset
// `offset` of the allocation and writes it.
int32_t IndexBlockInit(Toolkit* toolkit, RecordChain& directory, uint8_t* block, uint32_t offset);
// Gives a new directory (its AT_INDEX_ROOT just added, empty) the 0x38-byte
// empty root value, in memory; the caller writes the record.
int32_t IndexRootInit(Toolkit* toolkit, RecordChain& directory);

// The VCNs of every block the index reaches from its root (114 for a
// cycle or an unsound node).
int32_t ReachableIndexBlocks(Toolkit* toolkit, RecordChain& directory,
                             std::unordered_set<uint32_t>& vcns);

// Of the blocks `vcns`, those the index does not reach (as the disk now
// holds it) are written as empty nodes and their bits cleared: what a
// failed insertion took or a failed removal unlinked goes back.
int32_t ReleaseUnlinkedBlocks(Toolkit* toolkit, RecordChain& directory,
                              const std::vector<uint32_t>& vcns);

// Clears `length` bytes at `entry` and fills an index entry: record number,
// length, flags; with a name the key (parent = the directory's record
// number, name space 3); with flag 0x01 the sub-node VCN. 87 when `length`
// cannot hold what is asked for.
int32_t IndexEntryBuild(Toolkit* toolkit, RecordChain& directory, uint8_t* entry,
                        uint32_t length, uint8_t flags, uint32_t subNodeVcn,
                        uint32_t recordNumber, const char* name, uint32_t n);

// Edits of one block image of `blockSize` bytes in memory form (no I/O).
// Each checks the block header and walks its entries first (114 when
// unsound) and checks the room before changing anything, so a failure
// leaves the buffer as it was; nothing is ever written outside the bytes
// allocated of the block.
//
// Appends `entry` behind the block's last named entry: 0x7101 without room.
int32_t IndexBlockAppend(uint8_t* block, uint32_t blockSize, const uint8_t* entry);
// Inserts `entry` before the entry at byte offset `at`: 0x7102 without room,
// 114 when no entry starts at `at`.
int32_t IndexBlockInsertAt(uint8_t* block, uint32_t blockSize, uint32_t at,
                           const uint8_t* entry);
// Removes the first entry (114 when it is the block's last entry).
int32_t IndexBlockRemoveFirst(uint8_t* block, uint32_t blockSize);

}  // namespace vrax
