// Removing a name from a directory index.
//
// The name is looked for as IndexLookup looks for it (each sub-tree of the
// root in turn, the name order steering the descent inside blocks), so a
// name that lookups find is the one removed. Everything is first changed in
// the buffers of the nodes on the path and only then written, the removal
// itself in one write of the node that keeps names (or of the root); a refusal
// therefore writes nothing. Emptied blocks are unlinked from their parents
// by that write and their bits cleared last: an operation cut short leaves
// at worst a block marked in use that nothing points at, never a link to a
// block marked free.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_edit.h"
#include "volume/index/index_node_io.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

// One block on the path from the root to the entry removed.
struct Level {
  IndexNode node;
  uint32_t link = 0;  // the entry leading down; in the last level, the entry removed
  bool changed = false;
};

enum class Step { kNotFound, kFound, kDescend };

using Bytes = std::vector<uint8_t>;

// The walk of one block: a match at or after the name's place, or the
// sub-node to search next, as the lookup decides it.
Step ChooseStep(IndexEntryWalk& walk, const char* name, uint32_t n, uint32_t& at) {
  while (uint8_t* e = walk.Next()) {
    at = walk.offset();
    if (CollateNames(e, name, n) >= 0) {
      if (NamesEqual(e, name, n)) return Step::kFound;
      if (EntryHasSubNode(e)) return Step::kDescend;
    }
    if (EntryIsLast(e)) return EntryHasSubNode(e) ? Step::kDescend : Step::kNotFound;
  }
  return Step::kNotFound;
}

// Searches the sub-tree of block `vcn`; on a match `path` holds every block
// from `vcn` down to the one holding the name.
int32_t FindInBlocks(Toolkit* t, RecordChain& dir, uint32_t vcn, const char* name, uint32_t n,
                     std::vector<Level>& path, std::unordered_set<uint32_t>& visited,
                     bool& found) {
  found = false;
  path.clear();
  for (;;) {
    Level level;
    const int32_t error = ReadBlockForUpdate(t, dir, vcn, level.node, visited);
    if (error != kOk) return error;
    IndexEntryWalk walk(level.node.data.data(), level.node.start, level.node.end);
    const Step step = ChooseStep(walk, name, n, level.link);
    if (walk.malformed()) return Corruption();
    if (step == Step::kNotFound) return kOk;
    if (step == Step::kDescend) vcn = EntrySubNode(level.node.data.data() + level.link);
    try {
      path.push_back(std::move(level));
    } catch (const std::bad_alloc&) {
      return kErrNotEnoughMemory;
    }
    if (step == Step::kFound) {
      found = true;
      return kOk;
    }
  }
}

void AddBytesInUse(uint8_t* block, int64_t delta) {
  SetBlockBytesInUse(block, static_cast<uint32_t>(BlockBytesInUse(block) + delta));
}

// Takes entry X at `at` out of a block image. Each round either removes X
// (no sub-node, not last) or moves one of its duties to a neighbour: the
// last flag to a new end entry behind it, its sub-node to the next entry.
// A refusal comes in the first round, before the image is changed.
int32_t TakeOutOfBlock(uint8_t* block, uint32_t blockSize, uint32_t at) {
  for (int round = 0; round < 3; ++round) {
    NodeExtent x;
    const int32_t error = ScanBlock(block, blockSize, x, at);
    if (error != kOk) return error;
    if (!x.atFound) return Corruption();
    uint8_t* e = block + at;
    const uint32_t length = EntryLength(e);
    const bool subNode = EntryHasSubNode(e);
    if (!EntryIsLast(e) && !subNode) {
      std::memmove(e, e + length, x.lastEnd - at - length);
      AddBytesInUse(block, -static_cast<int64_t>(length));
      return kOk;
    }
    if (EntryIsLast(e)) {
      if (BlockRoom(block) < ie::kEndEntrySize) return kErrRemoveNoRoom;
      WriteEndEntry(block + x.lastEnd, subNode, subNode ? EntrySubNode(e) : 0);
      e[ie::kFlags] &= static_cast<uint8_t>(~(ie::kLast | ie::kHasSubNode));
      AddBytesInUse(block, ie::kEndEntrySize);
      continue;
    }
    uint8_t* next = e + length;
    if (EntryHasSubNode(next)) return kErrRemoveSubNodesMeet;
    if (!EntryCanHoldSubNode(next)) return kErrRemoveNoSubNodeField;
    LinkSubNode(next, EntrySubNode(e));
    e[ie::kFlags] &= static_cast<uint8_t>(~ie::kHasSubNode);
  }
  return Corruption();
}

// Unlinks `level`'s block, which holds no named entry, from the entry
// `parent` that points at it: the parent takes over the block's own end
// link, or loses its sub-node.
void UnlinkEmptied(Level& level, const NodeExtent& x, uint8_t* parent) {
  uint8_t* end = level.node.data.data() + x.lastEntry;
  if (EntryHasSubNode(end)) {
    SetEntrySubNode(parent, EntrySubNode(end));
    end[ie::kFlags] &= static_cast<uint8_t>(~ie::kHasSubNode);
  } else {
    UnlinkSubNode(parent);
  }
}

// From the bottom up: every changed block left without named entries is
// unlinked from its parent (which is changed in turn). Refused (114): a
// block holding more than its end entry (keyless entries in front of it
// could carry sub-trees that would be lost), and an end link to a block
// this operation has already read (the parent would be linked into a cycle
// or to a block that has a parent already).
int32_t UnlinkEmptiedBlocks(IndexNode& root, uint32_t rootLink, std::vector<Level>& path,
                            const std::unordered_set<uint32_t>& visited, bool& rootChanged,
                            std::vector<uint32_t>& freed) {
  for (size_t i = path.size(); i-- > 0;) {
    Level& level = path[i];
    if (!level.changed) break;
    NodeExtent x;
    const int32_t error = ScanNode(level.node, x);
    if (error != kOk) return error;
    if (x.hasNamed) break;
    if (x.start != x.lastEntry) return Corruption();
    const uint8_t* end = level.node.data.data() + x.lastEntry;
    if (EntryHasSubNode(end) && visited.count(EntrySubNode(end)) != 0) return Corruption();
    uint8_t* parent = i == 0 ? root.data.data() + rootLink
                             : path[i - 1].node.data.data() + path[i - 1].link;
    UnlinkEmptied(level, x, parent);
    if (i == 0) {
      rootChanged = true;
    } else {
      path[i - 1].changed = true;
    }
    try {
      freed.push_back(level.node.vcn);
    } catch (const std::bad_alloc&) {
      return kErrNotEnoughMemory;
    }
  }
  return kOk;
}

// The one node that keeps names and lost the entry (or a link to an
// emptied block) is written first: from then on the name, and any emptied
// block below, is out of the tree. The emptied blocks are then written as
// the empty nodes they now are (so that they can be taken again) and their
// bits cleared last. A crash in between leaves blocks marked that nothing
// reaches (leaks), never a link to a freed block.
int32_t WriteChanges(Toolkit* t, RecordChain& dir, IndexNode& root, std::vector<Level>& path,
                     bool rootChanged, const std::vector<uint32_t>& freed) {
  auto isFreed = [&freed](uint32_t vcn) {
    return std::find(freed.begin(), freed.end(), vcn) != freed.end();
  };
  for (size_t i = path.size(); i-- > 0;) {
    if (!path[i].changed) break;
    if (isFreed(path[i].node.vcn)) continue;
    const int32_t error =
        IndexBlockWrite(t, dir, path[i].node.data.data(), path[i].node.vcn, false);
    if (error != kOk) return error;
  }
  if (rootChanged) {
    const int32_t error = WriteRootNode(t, dir, root);
    if (error != kOk) return error;
  }
  for (size_t i = path.size(); i-- > 0;) {
    if (!path[i].changed || !isFreed(path[i].node.vcn)) continue;
    const int32_t error =
        IndexBlockWrite(t, dir, path[i].node.data.data(), path[i].node.vcn, false);
    if (error != kOk) return error;
  }
  for (uint32_t vcn : freed) {
    const int32_t error = IndexBlockFree(t, dir, vcn);
    if (error != kOk) return error;
  }
  return kOk;
}

// The leftmost entry of the sub-tree of block `vcn`: the blocks down to it
// (each level's link the entry that leads further down, the last level's
// the entry itself, which has no sub-node).
int32_t FindLeftmost(Toolkit* t, RecordChain& dir, uint32_t vcn, std::vector<Level>& path,
                     std::unordered_set<uint32_t>& visited) {
  for (;;) {
    Level level;
    const int32_t error = ReadBlockForUpdate(t, dir, vcn, level.node, visited);
    if (error != kOk) return error;
    IndexEntryWalk walk(level.node.data.data(), level.node.start, level.node.end);
    const uint8_t* e = walk.Next();
    if (e == nullptr) return Corruption();
    level.link = walk.offset();
    const bool descend = EntryHasSubNode(e);
    if (!descend && EntryIsKeyless(e)) return Corruption();  // a block without names
    if (descend) vcn = EntrySubNode(e);
    try {
      path.push_back(std::move(level));
    } catch (const std::bad_alloc&) {
      return kErrNotEnoughMemory;
    }
    if (!descend) return kOk;
  }
}

// Puts `entry` in the place of the entry at `at` of a block image; the
// caller has checked the room.
int32_t ReplaceEntry(uint8_t* block, uint32_t blockSize, uint32_t at, const Bytes& entry) {
  NodeExtent x;
  const int32_t error = ScanBlock(block, blockSize, x, at);
  if (error != kOk) return error;
  if (!x.atFound) return Corruption();
  const uint32_t old = EntryLength(block + at);
  const uint32_t tail = x.lastEnd - at - old;
  std::memmove(block + at + entry.size(), block + at + old, tail);
  std::memcpy(block + at, entry.data(), entry.size());
  AddBytesInUse(block, static_cast<int64_t>(entry.size()) - old);
  return kOk;
}

// An entry X with a sub-node whose next entry Y has one too (every entry of
// a block above the bottom of a B-tree): the names of X's sub-tree and of
// Y's cannot simply meet. X takes instead the place of its successor, the
// leftmost name of Y's sub-tree, which leaves its block as any name without
// a sub-node does. The blocks below K are written first: a crash before K
// is written leaves the successor's record named by nothing (a leak the
// repair reconnects), X still in place. Refused, with nothing written, when
// K has no room for a longer successor.
int32_t RemoveBySuccessor(Toolkit* t, RecordChain& dir, Level& k,
                          std::unordered_set<uint32_t>& visited, uint32_t& record) {
  uint8_t* block = k.node.data.data();
  uint8_t* x = block + k.link;
  const uint32_t nextAt = k.link + EntryLength(x);
  std::vector<Level> below;
  int32_t error = FindLeftmost(t, dir, EntrySubNode(block + nextAt), below, visited);
  if (error != kOk) return error;
  Level& leaf = below.back();
  const uint8_t* q = leaf.node.data.data() + leaf.link;
  Bytes successor(q, q + EntryLength(q));
  if (EntryIsLast(q) || !EntryCanHoldSubNode(successor.data())) return kErrRemoveSubNodesMeet;
  if (successor.size() > EntryLength(x) &&
      successor.size() - EntryLength(x) > BlockRoom(block)) {
    return kErrRemoveSubNodesMeet;
  }
  const uint32_t found = EntryRecord(x);
  LinkSubNode(successor.data(), EntrySubNode(x));
  error = TakeOutOfBlock(leaf.node.data.data(), t->indexBlockSize, leaf.link);
  if (error != kOk) return error;
  leaf.changed = true;
  bool kChanged = false;
  std::vector<uint32_t> freed;
  error = UnlinkEmptiedBlocks(k.node, nextAt, below, visited, kChanged, freed);
  if (error == kOk) error = ReplaceEntry(block, t->indexBlockSize, k.link, successor);
  if (error != kOk) return error;
  record = found;
  try {
    t->indexBlocksTouched.insert(t->indexBlocksTouched.end(), freed.begin(), freed.end());
  } catch (const std::bad_alloc&) {
    // Not given back after a failure: they stay marked, a leak.
  }
  auto isFreed = [&freed](uint32_t vcn) {
    return std::find(freed.begin(), freed.end(), vcn) != freed.end();
  };
  for (size_t i = below.size(); i-- > 0;) {
    if (!below[i].changed || isFreed(below[i].node.vcn)) continue;
    error = IndexBlockWrite(t, dir, below[i].node.data.data(), below[i].node.vcn, false);
    if (error != kOk) return error;
  }
  error = IndexBlockWrite(t, dir, block, k.node.vcn, false);
  if (error != kOk) return error;
  // The name is out; what fails from here on only leaves emptied blocks
  // marked (leaks).
  for (size_t i = below.size(); error == kOk && i-- > 0;) {
    if (!below[i].changed || !isFreed(below[i].node.vcn)) continue;
    error = IndexBlockWrite(t, dir, below[i].node.data.data(), below[i].node.vcn, false);
  }
  for (size_t i = 0; error == kOk && i < freed.size(); ++i) {
    error = IndexBlockFree(t, dir, freed[i]);
  }
  return kOk;
}

// Removes the entry at the bottom of `path` (found under root entry
// `rootLink`).
int32_t RemoveFound(Toolkit* t, RecordChain& dir, IndexNode& root, uint32_t rootLink,
                    std::vector<Level>& path, std::unordered_set<uint32_t>& visited,
                    uint32_t& record) {
  Level& bottom = path.back();
  {
    uint8_t* x = bottom.node.data.data() + bottom.link;
    if (EntryHasSubNode(x) && !EntryIsLast(x)) {
      NodeExtent extent;
      const int32_t error = ScanNode(bottom.node, extent, bottom.link);
      if (error != kOk) return error;
      const uint32_t nextAt = bottom.link + EntryLength(x);
      if (nextAt < extent.lastEnd && EntryHasSubNode(bottom.node.data.data() + nextAt)) {
        return RemoveBySuccessor(t, dir, bottom, visited, record);
      }
    }
  }
  const uint32_t found = EntryRecord(bottom.node.data.data() + bottom.link);
  int32_t error = TakeOutOfBlock(bottom.node.data.data(), t->indexBlockSize, bottom.link);
  if (error != kOk) return error;
  bottom.changed = true;
  bool rootChanged = false;
  std::vector<uint32_t> freed;
  error = UnlinkEmptiedBlocks(root, rootLink, path, visited, rootChanged, freed);
  if (error != kOk) return error;
  record = found;
  try {
    t->indexBlocksTouched.insert(t->indexBlocksTouched.end(), freed.begin(), freed.end());
  } catch (const std::bad_alloc&) {
    // Not given back after a failure: they stay marked, a leak.
  }
  return WriteChanges(t, dir, root, path, rootChanged, freed);
}

// A named entry in the root itself (never written by this engine) is taken
// out only when that needs nothing but closing the gap: no sub-node to hand
// on, no last flag to move, and the whole value was read. The value keeps
// its length while the entries move down and is shortened afterwards, so a
// failed shortening leaves a sound root with spare zero bytes.
int32_t RemoveFromRoot(Toolkit* t, RecordChain& dir, IndexNode& root, uint32_t at,
                       uint32_t& record) {
  uint8_t* e = root.data.data() + at;
  if (EntryHasSubNode(e) || EntryIsLast(e)) return kErrIndexRootNoSubNode;
  uint32_t valueLength = 0;
  int32_t error = AttributeSize(t, dir, AT_INDEX_ROOT, valueLength);
  if (error != kOk) return error;
  if (valueLength != root.end) return kErrIndexRootNoSubNode;
  NodeExtent x;
  error = ScanNode(root, x);
  if (error != kOk) return error;
  const uint32_t found = EntryRecord(e);
  const uint32_t length = EntryLength(e);
  std::memmove(e, e + length, x.lastEnd - at - length);
  std::memset(root.data.data() + x.lastEnd - length, 0, length);
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_INDEX_ROOT, dir, root.data.data(), root.end, 0, done,
                            kTransferWrite);
  if (error == kOk) error = SetAttributeSize(t, dir, AT_INDEX_ROOT, root.end - length);
  if (error == kOk) error = WriteChain(t, dir);
  if (error == kOk) record = found;
  return error;
}

}  // namespace

int32_t IndexRemove(Toolkit* t, RecordChain& dir, const char* name, uint32_t n,
                    uint32_t& record) {
  int32_t error = CheckIndexBitmap(t, dir);
  if (error != kOk) return error;
  IndexNode root;
  bool empty = false;
  error = ReadRootNode(t, dir, root, empty);
  if (error != kOk) return error;
  if (empty) return kErrPathNotFound;
  std::unordered_set<uint32_t> visited;
  std::vector<Level> path;
  IndexEntryWalk walk(root.data.data(), root.start, root.end);
  while (uint8_t* e = walk.Next()) {
    const uint32_t at = walk.offset();
    if (EntryHasSubNode(e)) {
      bool found = false;
      error = FindInBlocks(t, dir, EntrySubNode(e), name, n, path, visited, found);
      if (error != kOk) return error;
      if (found) return RemoveFound(t, dir, root, at, path, visited, record);
    }
    if (EntryIsLast(e)) return kErrPathNotFound;
    if (NamesEqual(e, name, n)) return RemoveFromRoot(t, dir, root, at, record);
  }
  return Corruption();  // the root ended without its last entry
}

}  // namespace vrax
