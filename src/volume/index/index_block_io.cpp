// Reading and writing single INDX blocks of a directory's index allocation.
#include "platform/error_codes.h"
#include "platform/corruption.h"
#include "volume/attributes/attributes.h"
#include "volume/dump/dump.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"

namespace vrax {

namespace {

// Byte offset of block VCN v: v clusters into the allocation. False when it
// does not fit the 32-bit offsets of attribute values.
bool BlockOffset(const Toolkit* t, uint32_t vcn, uint32_t& offset) {
  const uint64_t o = static_cast<uint64_t>(vcn) * t->clusterSize;
  if (o + t->indexBlockSize > 0xFFFFFFFFull) return false;
  offset = static_cast<uint32_t>(o);
  return true;
}

}  // namespace

int32_t IndexBlockRead(Toolkit* t, RecordChain& directory, uint8_t* block, uint32_t vcn,
                       uint32_t& bytesRead, bool trace) {
  const uint32_t B = t->indexBlockSize;
  bytesRead = 0;
  block[0] = 0;
  uint32_t offset = 0;
  if (!BlockOffset(t, vcn, offset)) return Corruption();
  while (bytesRead < B) {
    uint32_t done = 0;
    const int32_t error = AttributeTransfer(t, AT_INDEX_ALLOCATION, directory, block + bytesRead,
                                            B - bytesRead, offset + bytesRead, done,
                                            kTransferRead);
    if (error != kOk) return error;
    if (done == 0) break;
    bytesRead += done;
  }
  if (bytesRead < 4 || !HasIndexMagic(block)) {
    if (trace) TraceIndexBlockReadWrong(vcn, offset);
    return Corruption();
  }
  // A block cut short by the end of the allocation is as damaged as one
  // without its magic.
  if (bytesRead != B) return Corruption();
  return FixupAfterRead(block, B);
}

int32_t IndexBlockWrite(Toolkit* t, RecordChain& directory, uint8_t* block, uint32_t vcn,
                        bool trace) {
  uint32_t offset = 0;
  if (!BlockOffset(t, vcn, offset)) return Corruption();
  if (trace) TraceIndexBlockWrite(vcn, offset);
  if (FixupBeforeWrite(block, t->indexBlockSize) != kOk) return Corruption();
  uint32_t done = 0;
  int32_t error = AttributeTransfer(t, AT_INDEX_ALLOCATION, directory, block, t->indexBlockSize,
                                    offset, done, kTransferWrite);
  FixupAfterRead(block, t->indexBlockSize);
  if (error == kOk && done != t->indexBlockSize) error = Corruption();
  return error;
}

uint32_t IndexBlockCount(Toolkit* t, RecordChain& directory) {
  uint32_t size = 0;
  if (AttributeSize(t, directory, AT_INDEX_ALLOCATION, size) != kOk) return 0;
  return size / t->indexBlockSize;
}

}  // namespace vrax
