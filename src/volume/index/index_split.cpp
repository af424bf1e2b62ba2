// Splitting a full INDX block.
//
// Block K cannot take the new entry before its insertion point P. The
// entries in front of P move, in order, into a fresh block N; the new entry
// then goes in front of P with N as its sub-node. When it still does not
// fit, P itself (which has no sub-node) takes N, and the new entry, which
// sorts after everything moved, closes N. K's parent is never touched: the
// tree deepens under K's first entry.
//
// Whether N can take what moves and which of the two ways applies is known
// before anything is taken or changed, so a split that cannot work is
// refused without leaving a block allocated or a buffer half-edited.
#include <array>
#include <unordered_set>

#include "platform/error_codes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_edit.h"
#include "volume/index/index_node_io.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

struct SplitPlan {
  uint32_t moved = 0;       // bytes of the entries in front of P
  bool newInK = true;       // the new entry fits in K once they are gone
  uint32_t roomInN = 0;     // bytes N must take
};

// Decides the split from K alone. N will be a fresh empty node, so its room
// is known in advance: what moves (and the new entry, when it must go to N)
// has to fit there.
int32_t PlanSplit(const Toolkit* t, uint8_t* block, uint32_t at, uint32_t length,
                  SplitPlan& plan) {
  NodeExtent x;
  const int32_t error = ScanBlock(block, t->indexBlockSize, x, at);
  if (error != kOk) return error;
  if (!x.atFound) return kErrBadStructure;
  plan.moved = at - x.start;
  plan.newInK = length <= static_cast<uint64_t>(BlockRoom(block)) + plan.moved;
  plan.roomInN = plan.moved;
  if (!plan.newInK) {
    const uint8_t* point = block + at;
    if (EntryHasSubNode(point) || !EntryCanHoldSubNode(point)) return kErrSplitNoRoom;
    plan.roomInN += length;
  }
  if (plan.roomInN > FreshBlockRoom(t)) {
    return plan.newInK ? int32_t{kErrBlockAppendNoRoom} : int32_t{kErrSplitNoRoom};
  }
  return kOk;
}

// Reads the block just allocated: it must be an empty node at its own VCN
// with room for what moves into it.
int32_t ReadNewBlock(Toolkit* t, RecordChain& dir, uint32_t vcn, uint32_t room, IndexNode& node) {
  std::unordered_set<uint32_t> visited;
  int32_t error = ReadBlockForUpdate(t, dir, vcn, node, visited);
  if (error != kOk) return error;
  error = CheckEmptyNode(node);
  if (error != kOk) return error;
  if (BlockRoom(node.data.data()) < room) return kErrBlockAppendNoRoom;
  return kOk;
}

// Appends the entries of K in front of `at` to N, then removes them from K.
int32_t MoveLeadingEntries(uint32_t blockSize, uint8_t* from, uint32_t at, uint8_t* to) {
  const uint32_t start = BlockEntriesStart(from);
  IndexEntryWalk walk(from, start, BlockEntriesEnd(from));
  uint32_t count = 0;
  while (uint8_t* e = walk.Next()) {
    if (walk.offset() >= at) break;
    const int32_t error = IndexBlockAppend(to, blockSize, e);
    if (error != kOk) return error;
    ++count;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t error = IndexBlockRemoveFirst(from, blockSize);
    if (error != kOk) return error;
  }
  return kOk;
}

}  // namespace

int32_t IndexSplit(Toolkit* t, RecordChain& dir, uint8_t* block, uint32_t at, const char* name,
                   uint32_t n, uint32_t record) {
  const uint32_t B = t->indexBlockSize;
  const uint32_t length = NamedEntrySize(n);
  std::array<uint8_t, 0x5A + 2 * 0xFF> entry{};
  if (length > entry.size()) return kErrBadPathname;
  SplitPlan plan;
  int32_t error = PlanSplit(t, block, at, length, plan);
  if (error != kOk) return error;
  uint32_t vcn = 0;
  error = IndexBlockAllocate(t, dir, vcn);
  if (error != kOk) return error;
  IndexNode added;
  error = ReadNewBlock(t, dir, vcn, plan.roomInN, added);
  if (error == kOk) error = MoveLeadingEntries(B, block, at, added.data.data());
  if (error == kOk) {
    error = IndexEntryBuild(t, dir, entry.data(), length, ie::kHasSubNode, vcn, record, name, n);
  }
  if (error != kOk) return error;
  const uint32_t first = BlockEntriesStart(block);  // P is K's first entry now
  if (plan.newInK) {
    error = IndexBlockInsertAt(block, B, first, entry.data());
  } else {
    entry[ie::kFlags] &= static_cast<uint8_t>(~ie::kHasSubNode);
    LinkSubNode(block + first, vcn);
    error = IndexBlockAppend(added.data.data(), B, entry.data());
  }
  if (error == kOk) error = WriteChain(t, dir);
  if (error == kOk) error = IndexBlockWrite(t, dir, added.data.data(), vcn, false);
  if (error == kOk) error = IndexBlockWrite(t, dir, block, BlockVcn(block), false);
  return error;
}

}  // namespace vrax
