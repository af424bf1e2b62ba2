// Looking a name up in a directory index.
#include "platform/error_codes.h"
#include "platform/corruption.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_io.h"

namespace vrax {

namespace {

enum class Search { kFound, kNotFound };

// Descends from block v: inside blocks the name order steers the search, so
// the result of a sub-node search is final and the walk is a plain descent.
int32_t SearchBlocks(Toolkit* t, RecordChain& dir, uint32_t v, const char* name, uint32_t n,
                     uint32_t& record, Search& result,
                     std::unordered_set<uint32_t>& visited) {
  result = Search::kNotFound;
  for (;;) {
    IndexNode node;
    int32_t error = ReadBlockNode(t, dir, v, node, visited);
    if (error != kOk) return error;
    IndexEntryWalk walk(node.data.data(), node.start, node.end);
    bool descend = false;
    while (uint8_t* e = walk.Next()) {
      if (CollateNames(e, name, n) >= 0) {
        if (NamesEqual(e, name, n)) {
          record = EntryRecord(e);
          result = Search::kFound;
          return kOk;
        }
        if (EntryHasSubNode(e)) {
          v = EntrySubNode(e);
          descend = true;
          break;
        }
      }
      if (EntryIsLast(e)) {
        if (!EntryHasSubNode(e)) return kOk;
        v = EntrySubNode(e);
        descend = true;
        break;
      }
    }
    if (!descend) return walk.malformed() ? Corruption() : kOk;
  }
}

}  // namespace

int32_t IndexLookup(Toolkit* t, RecordChain& dir, const char* name, uint32_t n,
                    uint32_t& record) {
  record = 0xFFFFFFFFu;
  IndexNode root;
  bool empty = false;
  int32_t error = ReadRootNode(t, dir, root, empty);
  if (error != kOk || empty) return error;
  std::unordered_set<uint32_t> visited;
  IndexEntryWalk walk(root.data.data(), root.start, root.end);
  while (uint8_t* e = walk.Next()) {
    if (EntryHasSubNode(e)) {
      Search result = Search::kNotFound;
      error = SearchBlocks(t, dir, EntrySubNode(e), name, n, record, result, visited);
      if (error != kOk) return error;
      if (result == Search::kFound) return kOk;
    }
    if (EntryIsLast(e)) return kErrPathNotFound;
    if (NamesEqual(e, name, n)) {
      record = EntryRecord(e);
      return kOk;
    }
  }
  return Corruption();  // the root ended without its last entry
}

}  // namespace vrax
