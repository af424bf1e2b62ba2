// The in-order walk of a directory index, delivering DirRecords.
#include <cstring>
#include <vector>

#include "platform/error_codes.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_io.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

struct Frame {
  IndexNode node;
  IndexEntryWalk walk;
  uint8_t* pending = nullptr;  // entry whose sub-node is being walked
  explicit Frame(IndexNode&& n)
      : node(std::move(n)), walk(node.data.data(), node.start, node.end) {}
};

struct Output {
  uint32_t& skip;
  uint32_t& wanted;
  uint8_t*& out;
  uint32_t& bytesLeft;
};

// Writes one DirRecord: 28 bytes of name (low byte of each unit, zero
// padded, cut at 28) and the record number.
int32_t Emit(const uint8_t* e, Output& o) {
  if (o.skip != 0) {
    --o.skip;
    return kOk;
  }
  if (o.wanted == 0) return kErrEnumerateWantedZero;
  if (o.bytesLeft < kDirRecordSize) return kErrEnumerateNoRoom;
  std::memset(o.out, 0, kDirRecordSize);
  const uint32_t n = EntryNameLength(e);
  for (uint32_t i = 0; i < n && i < kDirRecordNameSize; ++i) o.out[i] = EntryNameChar(e, i);
  PutLE32(o.out + kDirRecordNameSize, EntryRecord(e));
  --o.wanted;
  o.out += kDirRecordSize;
  o.bytesLeft -= kDirRecordSize;
  return kOk;
}

// Takes the next step of the frame on top: descend into a sub-node, emit
// an entry, or finish the node. `done` is set when the walk is over.
int32_t Step(Toolkit* t, RecordChain& dir, std::vector<Frame>& stack, Output& o,
             std::unordered_set<uint32_t>& visited, bool& done) {
  Frame& top = stack.back();
  uint8_t* e = top.pending;
  if (e == nullptr) {
    e = top.walk.Next();
    if (e == nullptr) return kErrBadStructure;  // ended without its last entry
    if (EntryHasSubNode(e)) {
      top.pending = e;
      IndexNode child;
      const int32_t error = ReadBlockNode(t, dir, EntrySubNode(e), child, visited);
      if (error != kOk) return error;
      stack.emplace_back(std::move(child));
      return kOk;
    }
  }
  top.pending = nullptr;
  if (EntryIsLast(e)) {
    stack.pop_back();
    done = stack.empty();
    return kOk;
  }
  const int32_t error = Emit(e, o);
  if (error == kOk && o.wanted == 0) done = true;
  return error;
}

}  // namespace

// The walk stops as soon as the wanted count is reached, in blocks as in the
// root, so a caller reading a directory slice by slice never sees an error
// just because the slice ended inside a block.
int32_t IndexEnumerate(Toolkit* t, RecordChain& dir, uint32_t& skip, uint32_t& wanted,
                       uint8_t*& out, uint32_t& bytesLeft) {
  IndexNode root;
  bool empty = false;
  int32_t error = ReadRootNode(t, dir, root, empty);
  if (error != kOk || empty) return error;
  Output o{skip, wanted, out, bytesLeft};
  std::unordered_set<uint32_t> visited;
  std::vector<Frame> stack;
  stack.emplace_back(std::move(root));
  bool done = false;
  while (!done) {
    error = Step(t, dir, stack, o, visited, done);
    if (error != kOk) return error;
  }
  return kOk;
}

}  // namespace vrax
