// The in-order walk of a directory index, delivering DirRecords.
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/corruption.h"
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

  // Writes one DirRecord: 28 bytes of name (low byte of each unit, zero
  // padded, cut at 28) and the record number. `done` once the wanted count
  // is reached.
  int32_t operator()(const uint8_t* e, bool& done) {
    if (skip != 0) {
      --skip;
      return kOk;
    }
    if (wanted == 0) return kErrEnumerateWantedZero;
    if (bytesLeft < kDirRecordSize) return kErrEnumerateNoRoom;
    std::memset(out, 0, kDirRecordSize);
    const uint32_t n = EntryNameLength(e);
    for (uint32_t i = 0; i < n && i < kDirRecordNameSize; ++i) out[i] = EntryNameChar(e, i);
    PutLE32(out + kDirRecordNameSize, EntryRecord(e));
    --wanted;
    out += kDirRecordSize;
    bytesLeft -= kDirRecordSize;
    done = wanted == 0;
    return kOk;
  }
};

// Takes the next step of the frame on top: descend into a sub-node, emit
// an entry, or finish the node. `done` is set when the walk is over.
template <typename Emit>
int32_t Step(Toolkit* t, RecordChain& dir, std::vector<Frame>& stack, Emit& emit,
             std::unordered_set<uint32_t>& visited, bool& done) {
  Frame& top = stack.back();
  uint8_t* e = top.pending;
  if (e == nullptr) {
    e = top.walk.Next();
    if (e == nullptr) return Corruption();  // ended without its last entry
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
  return emit(e, done);
}

// The in-order walk of the whole index, handing each named entry to `emit`
// until it says `done` or fails.
template <typename Emit>
int32_t Walk(Toolkit* t, RecordChain& dir, Emit& emit) {
  IndexNode root;
  bool empty = false;
  int32_t error = ReadRootNode(t, dir, root, empty);
  if (error != kOk || empty) return error;
  std::unordered_set<uint32_t> visited;
  std::vector<Frame> stack;
  stack.emplace_back(std::move(root));
  bool done = false;
  while (!done) {
    error = Step(t, dir, stack, emit, visited, done);
    if (error != kOk) return error;
  }
  return kOk;
}

}  // namespace

// The walk stops as soon as the wanted count is reached, in blocks as in the
// root, so a caller reading a directory slice by slice never sees an error
// just because the slice ended inside a block.
int32_t IndexEnumerate(Toolkit* t, RecordChain& dir, uint32_t& skip, uint32_t& wanted,
                       uint8_t*& out, uint32_t& bytesLeft) {
  Output o{skip, wanted, out, bytesLeft};
  return Walk(t, dir, o);
}

int32_t IndexForEach(Toolkit* t, RecordChain& dir, const IndexVisitor& visit) {
  auto emit = [&visit](const uint8_t* e, bool&) { return visit(e); };
  return Walk(t, dir, emit);
}

}  // namespace vrax
