// Inserting a name into a directory index.
//
// The root holds only its end entry: the first insertion takes a block,
// links it under that end entry, and from then on every name goes into a
// block. The descent follows the name order to the block whose insertion
// point has no sub-node; only that block changes (or it splits), so only it
// is written back, and the root only when it gained its first link.
#include <array>
#include <vector>
#include <unordered_set>

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

// Where the new entry goes in a node: before the entry at the point, or
// behind a named entry that carries the last flag (never written by this
// engine) and sorts before the name.
enum class Place { kBefore, kAfterLast };

// The insertion point: the first keyless entry, or the first named entry
// that sorts after the name. 183 when the name is present in any case.
int32_t FindInsertionPoint(uint8_t* node, uint32_t start, uint32_t end, const char* name,
                           uint32_t n, uint32_t& at, Place& place) {
  IndexEntryWalk walk(node, start, end);
  while (uint8_t* e = walk.Next()) {
    at = walk.offset();
    place = Place::kBefore;
    if (EntryIsKeyless(e)) return kOk;
    const int order = CollateNames(e, name, n);
    if (order == 0) return kErrAlreadyExists;
    if (order > 0) return kOk;
    if (EntryIsLast(e)) {
      place = Place::kAfterLast;
      return kOk;
    }
  }
  return Corruption();
}

// Puts the new entry into the last block of `path` at the insertion point,
// splitting it (and what must split above it) when the entry does not fit,
// and writes what changed.
int32_t InsertIntoBlock(Toolkit* t, RecordChain& dir, std::vector<IndexPathLevel>& path,
                        Place place, const char* name, uint32_t n, uint32_t record) {
  IndexNode& node = path.back().node;
  const uint32_t at = path.back().at;
  uint8_t* block = node.data.data();
  const uint32_t length = NamedEntrySize(n);
  std::array<uint8_t, 0x5A + 2 * kMaxStoredNameLength> entry{};
  int32_t error = IndexEntryBuild(t, dir, entry.data(), length, 0, 0, record, name, n);
  if (error != kOk) return error;
  if (place == Place::kBefore && length > BlockRoom(block)) {
    return IndexSplitPath(t, dir, path, entry.data());  // writes what changed
  }
  const uint32_t B = t->indexBlockSize;
  error = place == Place::kBefore ? IndexBlockInsertAt(block, B, at, entry.data())
                                  : IndexBlockAppend(block, B, entry.data());
  if (error == kOk) error = IndexBlockWrite(t, dir, block, node.vcn, false);
  if (error != kOk) return error;
  return WriteChain(t, dir);
}

// Descends from block `vcn` to the block that takes the name, keeping the
// blocks on the way (a split may reach up into them). `fresh` says that
// block `vcn` was just allocated and must be empty.
int32_t InsertBelow(Toolkit* t, RecordChain& dir, uint32_t vcn, bool fresh, const char* name,
                    uint32_t n, uint32_t record) {
  std::unordered_set<uint32_t> visited;
  std::vector<IndexPathLevel> path;
  for (;;) {
    path.emplace_back();
    IndexNode& node = path.back().node;
    int32_t error = ReadBlockForUpdate(t, dir, vcn, node, visited);
    if (error == kOk && fresh) error = CheckEmptyNode(node);
    if (error != kOk) return error;
    fresh = false;
    Place place = Place::kBefore;
    error = FindInsertionPoint(node.data.data(), node.start, node.end, name, n, path.back().at,
                               place);
    if (error != kOk) return error;
    const uint8_t* point = node.data.data() + path.back().at;
    if (place == Place::kBefore && EntryHasSubNode(point)) {
      vcn = EntrySubNode(point);
      continue;
    }
    return InsertIntoBlock(t, dir, path, place, name, n, record);
  }
}

// The root's link to the sub-tree that takes the name. An empty root (its
// end entry alone, without sub-node) gets a fresh block linked under its end
// entry; `rootChanged` then tells that the root must be written back.
int32_t RootLink(Toolkit* t, RecordChain& dir, IndexNode& root, const char* name, uint32_t n,
                 uint32_t& vcn, bool& rootChanged) {
  NodeExtent x;
  int32_t error = ScanNode(root, x);
  if (error != kOk) return error;
  uint8_t* first = root.data.data() + x.start;
  if (x.start == x.lastEntry && EntryIsKeyless(first) && !EntryHasSubNode(first)) {
    if (!EntryCanHoldSubNode(first)) return Corruption();
    error = IndexBlockAllocate(t, dir, vcn);
    if (error != kOk) return error;
    LinkSubNode(first, vcn);
    rootChanged = true;
    return kOk;
  }
  uint32_t at = 0;
  Place place = Place::kBefore;
  error = FindInsertionPoint(root.data.data(), root.start, root.end, name, n, at, place);
  if (error != kOk) return error;
  const uint8_t* point = root.data.data() + at;
  if (place == Place::kAfterLast || !EntryHasSubNode(point)) return kErrIndexRootNoSubNode;
  vcn = EntrySubNode(point);
  return kOk;
}

}  // namespace

int32_t IndexInsert(Toolkit* t, RecordChain& dir, const char* name, uint32_t n,
                    uint32_t record) {
  if (n == 0) return kErrInsertEmptyName;
  if (n > kMaxStoredNameLength) return kErrBadPathname;
  int32_t error = CheckIndexBitmap(t, dir);
  if (error != kOk) return error;
  IndexNode root;
  bool empty = false;
  error = ReadRootNode(t, dir, root, empty);
  if (error != kOk || empty) return error;
  uint32_t vcn = 0;
  bool rootChanged = false;
  error = RootLink(t, dir, root, name, n, vcn, rootChanged);
  if (error == kOk) error = InsertBelow(t, dir, vcn, rootChanged, name, n, record);
  if (error != kOk || !rootChanged) return error;
  return WriteRootNode(t, dir, root);
}

}  // namespace vrax
