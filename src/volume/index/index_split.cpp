// Splitting full INDX blocks so that the tree stays shallow.
//
// A block K that cannot take a new entry is split as B-trees split: its
// entries (the new one among them) are divided at a split entry M; those in
// front of M go into a fresh block N1, those behind it into a fresh block
// N2, and M, now leading to N1 (M's own sub-tree, if it had one, becomes
// N1's rightmost link: its end entry's), moves up into K's parent in front
// of the entry that led to K, which leads to N2 from then on. A parent that
// cannot take M splits the same way, and so on up; the top block (the one
// the root links) is split in place instead: it keeps only M and its end
// entry, which lead to N1 and N2. So the tree grows in height only at the
// top, and every block below stays between half full and full.
//
// The split entry is chosen where the new entry goes: at the end of the
// block (names added in ascending order) N1 keeps every old entry but the
// last and N2 starts with the new one; at the front (descending order) the
// mirror; anywhere else the block is halved by bytes. Blocks filled in
// order thus stay full.
//
// Every block that changes is written fresh (N1, N2) except the one that
// takes the last M (or the top block): that one write links the new blocks
// and unlinks the old ones at once. The old blocks are then written as
// empty nodes and their bits cleared. A crash before that write leaves
// fresh blocks nothing links (leaks), one after it old blocks marked that
// nothing links (leaks): never a name lost, doubled or out of order.
//
// Entries keep their bytes; only sub-node links change. Readers, and older
// versions of this engine, walk such trees like any other: an entry's
// sub-node holds the names before it, the end entry's the names behind the
// block's last entry.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_edit.h"
#include "volume/index/index_node_io.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

using Entry = std::vector<uint8_t>;

// The named entries of a block image in order and its end entry; false for
// a node this split does not handle (one ending in a named last entry).
bool TakeEntries(uint8_t* block, uint32_t blockSize, std::vector<Entry>& named, Entry& end) {
  NodeExtent x;
  if (ScanBlock(block, blockSize, x) != kOk) return false;
  IndexEntryWalk walk(block, x.start, x.lastEnd);
  while (uint8_t* e = walk.Next()) {
    const Entry bytes(e, e + EntryLength(e));
    if (EntryIsLast(e)) {
      if (!EntryIsKeyless(e)) return false;
      end = bytes;
      return true;
    }
    named.push_back(bytes);
  }
  return false;
}

uint32_t BytesOf(const std::vector<Entry>& entries, size_t from, size_t to) {
  uint32_t bytes = 0;
  for (size_t i = from; i < to; ++i) bytes += static_cast<uint32_t>(entries[i].size());
  return bytes;
}

// Where to split `entries` (the new one at `added`): the index of M.
size_t SplitIndex(const std::vector<Entry>& entries, size_t added, uint32_t room) {
  const size_t k = entries.size();
  if (added + 1 == k && BytesOf(entries, 0, k - 2) <= room) return k - 2;
  if (added == 0 && BytesOf(entries, 2, k) <= room) return 1;
  const uint32_t total = BytesOf(entries, 0, k);
  uint32_t before = 0;
  size_t m = 0;
  while (m + 2 < k && before + entries[m].size() <= total / 2) before += entries[m++].size();
  return std::max<size_t>(m, 1);
}

// Fills the fresh block `vcn` with `entries`; its end entry leads to `link`
// when `linked`. Written at once: nothing links it yet.
int32_t WriteFreshBlock(Toolkit* t, RecordChain& dir, uint32_t vcn,
                        const std::vector<Entry>& entries, size_t from, size_t to, bool linked,
                        uint32_t link) {
  IndexNode node;
  std::unordered_set<uint32_t> visited;
  int32_t error = ReadBlockForUpdate(t, dir, vcn, node, visited);
  if (error == kOk) error = CheckEmptyNode(node);
  if (error != kOk) return error;
  uint8_t* block = node.data.data();
  for (size_t i = from; i < to && error == kOk; ++i) {
    error = IndexBlockAppend(block, t->indexBlockSize, entries[i].data());
  }
  if (error != kOk) return error;
  if (linked) {
    NodeExtent x;
    error = ScanBlock(block, t->indexBlockSize, x);
    if (error != kOk) return error;
    LinkSubNode(block + x.lastEntry, link);
  }
  return IndexBlockWrite(t, dir, block, vcn, false);
}

// Replaces the entries of block image `block` by `entries` and `end`,
// keeping its header and the surplus its bytes in use carry.
int32_t RefillBlock(uint8_t* block, uint32_t blockSize, const std::vector<Entry>& entries,
                    const Entry& end) {
  NodeExtent x;
  int32_t error = ScanBlock(block, blockSize, x);
  if (error != kOk) return error;
  const uint32_t surplus = BlockEntriesEnd(block) - x.lastEnd;
  uint32_t at = x.start;
  const uint32_t need = BytesOf(entries, 0, entries.size()) + static_cast<uint32_t>(end.size());
  if (at + need + surplus > indx::kNodeHeader + BlockBytesAllocated(block)) {
    return kErrBlockAppendNoRoom;
  }
  for (const Entry& e : entries) {
    std::copy(e.begin(), e.end(), block + at);
    at += static_cast<uint32_t>(e.size());
  }
  std::copy(end.begin(), end.end(), block + at);
  at += static_cast<uint32_t>(end.size());
  SetBlockBytesInUse(block, at + surplus - indx::kNodeHeader);
  return kOk;
}

// The entry `up` goes in front of the entry at `at` of `node`; with
// `relink`, the entry at `at` then leads to `relinkVcn`. True when it fit
// and `node` was changed.
int32_t PutIntoNode(Toolkit* t, IndexNode& node, uint32_t at, const Entry& up, bool relink,
                    uint32_t relinkVcn, bool& fitted) {
  fitted = false;
  uint8_t* block = node.data.data();
  if (up.size() > BlockRoom(block)) return kOk;
  uint8_t* next = block + at;
  if (relink && !EntryHasSubNode(next)) return Corruption();
  const int32_t error = IndexBlockInsertAt(block, t->indexBlockSize, at, up.data());
  if (error != kOk) return error;
  if (relink) SetEntrySubNode(block + at + up.size(), relinkVcn);
  fitted = true;
  return kOk;
}

// The one write that links the new blocks (the directory's records, which
// a growth of the allocation may have changed, go first), then the blocks
// the split replaced are emptied and freed. Once the commit is written the
// name is in: a later failure only leaves those blocks marked (leaks, which
// a failed change gives back as blocks nothing links), so it is not the
// insertion's failure.
int32_t CommitSplit(Toolkit* t, RecordChain& dir, IndexNode& node,
                    const std::vector<uint32_t>& replaced) {
  int32_t error = WriteChain(t, dir);
  if (error == kOk) error = IndexBlockWrite(t, dir, node.data.data(), node.vcn, false);
  if (error != kOk) return error;
  try {
    t->indexBlocksTouched.insert(t->indexBlocksTouched.end(), replaced.begin(), replaced.end());
  } catch (const std::bad_alloc&) {
    // Not given back after a failure: they stay marked, a leak.
  }
  std::vector<uint8_t> block(t->indexBlockSize);
  for (uint32_t vcn : replaced) {
    if (IndexBlockInit(t, dir, block.data(), vcn * t->clusterSize) != kOk ||
        IndexBlockFree(t, dir, vcn) != kOk) {
      ReleaseUnlinkedBlocks(t, dir, replaced);  // what the index does not reach goes back
      break;
    }
  }
  return kOk;
}

}  // namespace

int32_t IndexSplitPath(Toolkit* t, RecordChain& dir, std::vector<IndexPathLevel>& path,
                       const uint8_t* entry) {
  if (path.empty()) return Corruption();
  const uint32_t B = t->indexBlockSize;
  const uint32_t room = FreshBlockRoom(t);
  Entry up(entry, entry + EntryLength(entry));
  bool relink = false;
  uint32_t relinkVcn = 0;
  std::vector<uint32_t> replaced;
  for (size_t level = path.size(); level-- > 0;) {
    IndexNode& node = path[level].node;
    const uint32_t at = path[level].at;
    bool fitted = false;
    int32_t error = PutIntoNode(t, node, at, up, relink, relinkVcn, fitted);
    if (error != kOk) return error;
    if (fitted) return CommitSplit(t, dir, node, replaced);
    // Split: the node's entries with `up` in its place.
    std::vector<Entry> entries;
    Entry end;
    if (!TakeEntries(node.data.data(), B, entries, end)) return kErrBlockAppendNoRoom;
    size_t added = 0;
    {
      IndexEntryWalk walk(node.data.data(), node.start, node.end);
      while (walk.Next() != nullptr && walk.offset() < at) ++added;
    }
    if (added > entries.size()) return Corruption();
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(added), up);
    if (relink) {
      uint8_t* next = added + 1 < entries.size() ? entries[added + 1].data() : end.data();
      if (!EntryHasSubNode(next)) return Corruption();
      SetEntrySubNode(next, relinkVcn);
    }
    if (entries.size() < 3) return kErrSplitNoRoom;
    const size_t m = SplitIndex(entries, added, room);
    Entry middle = entries[m];
    if (!EntryCanHoldSubNode(middle.data())) return kErrSplitNoRoom;
    if (BytesOf(entries, 0, m) > room || BytesOf(entries, m + 1, entries.size()) > room ||
        (level == 0 && !EntryCanHoldSubNode(end.data()))) {
      return kErrSplitNoRoom;
    }
    uint32_t left = 0, right = 0;
    error = IndexBlockAllocate(t, dir, left);
    if (error == kOk) error = IndexBlockAllocate(t, dir, right);
    if (error != kOk) return error;
    // N1: the entries before M; its end entry takes M's old sub-tree.
    const bool middleLinked = EntryHasSubNode(middle.data());
    error = WriteFreshBlock(t, dir, left, entries, 0, m, middleLinked,
                            middleLinked ? EntrySubNode(middle.data()) : 0);
    if (error != kOk) return error;
    // N2: the entries behind M, and the node's own end link.
    std::vector<Entry> rightEntries(entries.begin() + static_cast<std::ptrdiff_t>(m) + 1,
                                    entries.end());
    const bool endLinked = EntryHasSubNode(end.data());
    error = WriteFreshBlock(t, dir, right, rightEntries, 0, rightEntries.size(), endLinked,
                            endLinked ? EntrySubNode(end.data()) : 0);
    if (error != kOk) return error;
    LinkSubNode(middle.data(), left);
    if (level == 0) {
      // The top block stays where the root links it: it keeps M and its
      // end entry, leading to N1 and N2.
      Entry topEnd = end;
      LinkSubNode(topEnd.data(), right);
      error = RefillBlock(node.data.data(), B, {middle}, topEnd);
      if (error != kOk) return error;
      return CommitSplit(t, dir, node, replaced);
    }
    replaced.push_back(node.vcn);
    up = middle;
    relink = true;
    relinkVcn = right;
  }
  return Corruption();
}

}  // namespace vrax
