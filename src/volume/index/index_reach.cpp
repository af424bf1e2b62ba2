// The blocks a directory's index reaches, and the giving back of blocks a
// failed change took or unlinked.
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_io.h"
#include "volume/index/index_update.h"

namespace vrax {

namespace {

// Pushes the sub-nodes of every entry of `node`; 114 for unsound entries.
int32_t PushSubNodes(IndexNode& node, std::vector<uint32_t>& pending) {
  IndexEntryWalk walk(node.data.data(), node.start, node.end);
  while (const uint8_t* e = walk.Next()) {
    if (EntryHasSubNode(e)) {
      try {
        pending.push_back(EntrySubNode(e));
      } catch (const std::bad_alloc&) {
        return kErrNotEnoughMemory;
      }
    }
    if (EntryIsLast(e)) break;
  }
  return walk.malformed() ? Corruption() : kOk;
}

}  // namespace

int32_t ReachableIndexBlocks(Toolkit* t, RecordChain& dir, std::unordered_set<uint32_t>& vcns) {
  vcns.clear();
  IndexNode root;
  bool empty = false;
  int32_t error = ReadRootNode(t, dir, root, empty);
  if (error != kOk || empty) return error;
  std::vector<uint32_t> pending;
  error = PushSubNodes(root, pending);
  while (error == kOk && !pending.empty()) {
    const uint32_t vcn = pending.back();
    pending.pop_back();
    IndexNode node;
    error = ReadBlockNode(t, dir, vcn, node, vcns);  // a second visit is a cycle: 114
    if (error == kOk) error = PushSubNodes(node, pending);
  }
  return error;
}

int32_t ReleaseUnlinkedBlocks(Toolkit* t, RecordChain& dir, const std::vector<uint32_t>& vcns) {
  if (vcns.empty()) return kOk;
  std::unordered_set<uint32_t> reached;
  int32_t error = ReachableIndexBlocks(t, dir, reached);
  if (error != kOk) return error;  // unknown what is linked: they stay marked
  std::vector<uint8_t> block;
  try {
    block.assign(t->indexBlockSize, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  for (const uint32_t vcn : vcns) {
    if (reached.count(vcn) != 0) continue;
    // Empty first: a block taken from the bitmap must be an empty node.
    error = IndexBlockInit(t, dir, block.data(), vcn * t->clusterSize);
    if (error == kOk) error = IndexBlockFree(t, dir, vcn);
    if (error != kOk) return error;
  }
  return kOk;
}

}  // namespace vrax
