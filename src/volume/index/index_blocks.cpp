// The INDX blocks of a directory: taking and releasing them through the
// index bitmap (AT_BITMAP "$I30"), growing the allocation (AT_INDEX_ALLOCATION
// "$I30") and writing fresh empty nodes.
//
// Block k lies at byte k x B of the allocation and has VCN k x (B / cluster
// size); bit k of the bitmap (bit k mod 8 of byte k / 8) is set while block k
// is in use. The bitmap is read and written one chunk (the Toolkit's chunk
// buffer) at a time.
#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/allocation/bits.h"
#include "volume/attributes/attributes.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_edit.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/damage.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

namespace {

constexpr uint32_t kGrowthBlocks = 128;
constexpr uint32_t kGrowthBlockSize = 4096;

// 128 blocks of 4096 bytes; larger blocks keep the same byte size of a step
// (at least one block), smaller ones take 128 blocks.
uint32_t GrowthStep(uint32_t blockSize) {
  const uint32_t per = std::max(1u, blockSize / kGrowthBlockSize);
  return std::max(1u, kGrowthBlocks / per);
}

// The bitmap holds one bit per block, in whole bytes.
uint32_t BitmapLength(uint32_t allocationSize, uint32_t blockSize) {
  const uint32_t blocks = allocationSize / blockSize;
  return blocks / 8 + (blocks % 8 != 0 ? 1 : 0);
}

int32_t BitmapTransfer(Toolkit* t, RecordChain& dir, uint8_t* bytes, uint32_t count,
                       uint32_t offset, uint32_t& done, int mode) {
  return AttributeTransfer(t, AT_BITMAP, dir, bytes, count, offset, done, mode);
}

// Writes back the `count` bitmap bytes of the chunk read at `offset`, and
// the directory's record when the bitmap lives in it.
int32_t WriteChunk(Toolkit* t, RecordChain& dir, uint8_t* chunk, uint32_t count,
                   uint32_t offset) {
  return BitmapWrite(t, dir, AT_BITMAP, chunk, count, offset);
}

// Searches the bitmap chunk by chunk for the first clear bit of an existing
// block (bits at or beyond `blocks` never qualify); sets it and writes the
// chunk back when found.
int32_t TakeFreeBlock(Toolkit* t, RecordChain& dir, uint32_t blocks, uint32_t& block,
                      bool& found) {
  found = false;
  uint8_t* chunk = ToolkitChunkBuffer(t);
  if (chunk == nullptr) return kErrNotEnoughMemory;
  for (uint64_t offset = 0; offset * 8 < blocks; offset += t->chunkSize) {
    const uint32_t at = static_cast<uint32_t>(offset);
    uint32_t done = 0;
    int32_t error = BitmapTransfer(t, dir, chunk, t->chunkSize, at, done, kTransferRead);
    if (error != kOk) return error;
    if (done == 0) return kErrIndexBitmapEmpty;
    const uint64_t limit = std::min<uint64_t>(8ull * done, blocks - offset * 8);
    uint32_t bit = 0;
    if (AllocateBits(chunk, done, 1, bit, static_cast<uint32_t>(limit)) == 0) {
      error = WriteChunk(t, dir, chunk, done, at);
      if (error != kOk) return error;
      block = 8 * at + bit;
      found = true;
      return kOk;
    }
  }
  return kOk;
}

// Zeroes bitmap bytes [from, to) that lie in clusters; a resident bitmap
// gained them as zeros in its record already.
int32_t ClearBitmapBytes(Toolkit* t, RecordChain& dir, uint32_t from, uint32_t to) {
  const uint8_t* bitmap = FindAttribute(t, dir, AT_BITMAP);
  if (bitmap == nullptr) return Corruption();
  if (!AttrIsNonResident(bitmap) || from == to) return kOk;
  std::vector<uint8_t> zeros;
  try {
    zeros.assign(to - from, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  uint32_t done = 0;
  const int32_t error =
      BitmapTransfer(t, dir, zeros.data(), to - from, from, done, kTransferWrite);
  if (error != kOk) return error;
  return done == to - from ? kOk : Corruption();
}

// Writes `count` fresh empty blocks from byte `oldSize` of the allocation,
// in as few transfers as its runs allow.
int32_t InitNewBlocks(Toolkit* t, RecordChain& dir, uint32_t oldSize, uint32_t count) {
  const uint32_t B = t->indexBlockSize;
  std::vector<uint8_t> blocks;
  try {
    blocks.assign(static_cast<size_t>(count) * B, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* block = blocks.data() + static_cast<size_t>(i) * B;
    BuildEmptyBlock(block, B, t->bytesPerSector, (oldSize + i * B) / t->clusterSize);
    if (FixupBeforeWrite(block, B) != kOk) return Corruption();
  }
  uint32_t done = 0;
  const int32_t error = AttributeTransfer(t, AT_INDEX_ALLOCATION, dir, blocks.data(),
                                          static_cast<uint32_t>(blocks.size()), oldSize, done,
                                          kTransferWrite);
  if (error != kOk) return error;
  return done == blocks.size() ? kOk : Corruption();
}

}  // namespace

// Bits it lacks would leave blocks in use unmarked: no block is taken
// from, and no name added to or removed from, an index whose bitmap does
// not cover its allocation.
int32_t CheckIndexBitmap(Toolkit* t, RecordChain& dir) {
  uint32_t size = 0, bitmap = 0;
  if (AttributeSize(t, dir, AT_INDEX_ALLOCATION, size) != kOk ||
      AttributeSize(t, dir, AT_BITMAP, bitmap) != kOk || t->indexBlockSize == 0) {
    return kOk;  // no allocation yet, or the callers' own reads report it
  }
  if (bitmap < BitmapLength(size, t->indexBlockSize)) {
    return VolumeDamage(t, "the index bitmap is shorter than the index blocks");
  }
  return kOk;
}

// One growth at most per call: after a growth the new blocks are free, so a
// search that still finds nothing means the bitmap does not describe the
// allocation, and the allocation is not grown again and again.
int32_t IndexBlockAllocate(Toolkit* t, RecordChain& dir, uint32_t& vcn) {
  if (!IndexBlocksAddressable(t)) return Corruption();
  bool grown = false;
  for (;;) {
    int32_t error = CheckIndexBitmap(t, dir);
    if (error != kOk) return error;
    uint32_t size = 0;
    error = AttributeSize(t, dir, AT_INDEX_ALLOCATION, size);
    if (error != kOk) return error;
    const uint32_t blocks = size / t->indexBlockSize;
    if (blocks != 0) {
      uint32_t block = 0;
      bool found = false;
      error = TakeFreeBlock(t, dir, blocks, block, found);
      if (error != kOk) return error;
      if (found) {
        vcn = block * ClustersPerIndexBlock(t);
        try {
          t->indexBlocksTouched.push_back(vcn);
        } catch (const std::bad_alloc&) {
          // Not given back after a failure: it stays marked, a leak.
        }
        return kOk;
      }
    }
    if (grown) return Corruption();
    error = IndexAllocationGrow(t, dir);
    if (error != kOk) return error;
    grown = true;
  }
}

// The block keeps its content (an empty node written by its last change).
int32_t IndexBlockFree(Toolkit* t, RecordChain& dir, uint32_t vcn) {
  if (!IndexBlocksAddressable(t)) return Corruption();
  const uint32_t block = vcn / ClustersPerIndexBlock(t);
  uint32_t size = 0;
  int32_t error = AttributeSize(t, dir, AT_INDEX_ALLOCATION, size);
  if (error != kOk) return error;
  if (block >= size / t->indexBlockSize) return kErrBeyondAllocation;
  uint8_t* chunk = ToolkitChunkBuffer(t);
  if (chunk == nullptr) return kErrNotEnoughMemory;
  uint32_t done = 0;
  error = BitmapTransfer(t, dir, chunk, t->chunkSize, block / 8, done, kTransferRead);
  if (error != kOk) return error;
  if (done == 0) return kErrIndexBitmapEmpty;
  SetBits(chunk, block % 8, 1, 0);
  return WriteChunk(t, dir, chunk, done, block / 8);
}

// The new blocks and the new bitmap bytes are written into fresh clusters
// first; the directory's records, which give the allocation and the bitmap
// their new sizes, are written last (both sizes live in the base record, so
// one write commits them).
int32_t IndexAllocationGrow(Toolkit* t, RecordChain& dir) {
  if (!IndexBlocksAddressable(t)) return Corruption();
  const uint32_t B = t->indexBlockSize;
  uint32_t oldSize = 0;
  int32_t error = AttributeSize(t, dir, AT_INDEX_ALLOCATION, oldSize);
  if (error != kOk) return error;
  if (oldSize % B != 0) return Corruption();  // new blocks would straddle old ones
  const uint32_t step = GrowthStep(B);
  const uint64_t newSize = oldSize + static_cast<uint64_t>(step) * B;
  if (newSize > MaxValueSize(t)) return kErrIncorrectSize;
  error = SetAttributeSize(t, dir, AT_INDEX_ALLOCATION, static_cast<uint32_t>(newSize));
  if (error == kOk) error = InitNewBlocks(t, dir, oldSize, step);
  if (error != kOk) return error;
  const uint32_t oldBitmap = BitmapLength(oldSize, B);
  const uint32_t newBitmap = BitmapLength(static_cast<uint32_t>(newSize), B);
  uint32_t bitmapNow = 0;
  error = AttributeSize(t, dir, AT_BITMAP, bitmapNow);
  if (error != kOk) return error;
  if (bitmapNow < newBitmap) {
    error = SetAttributeSize(t, dir, AT_BITMAP, newBitmap);
    if (error == kOk) error = ClearBitmapBytes(t, dir, std::max(oldBitmap, bitmapNow), newBitmap);
    if (error != kOk) return error;
  }
  return CommitChain(t, dir);
}

// Builds an empty block for byte offset `offset` of the allocation and
// writes it.
int32_t IndexBlockInit(Toolkit* t, RecordChain& dir, uint8_t* block, uint32_t offset) {
  if (!IndexBlocksAddressable(t) || offset % t->clusterSize != 0) return Corruption();
  const uint32_t vcn = offset / t->clusterSize;
  BuildEmptyBlock(block, t->indexBlockSize, t->bytesPerSector, vcn);
  return IndexBlockWrite(t, dir, block, vcn, false);
}

// The root of a new directory, whose AT_INDEX_ROOT was just added empty:
// the 0x38-byte value holding only the end entry. In memory: the record is
// written with the rest of the new directory.
int32_t IndexRootInit(Toolkit* t, RecordChain& dir) {
  if (dir.head == nullptr) return kErrInvalidParameter;
  std::array<uint8_t, ie::kNewRootSize> root{};
  BuildEmptyRoot(root.data());
  uint32_t done = 0;
  return AttributeTransfer(t, AT_INDEX_ROOT, dir, root.data(), ie::kNewRootSize, 0, done,
                           kTransferWrite);
}

}  // namespace vrax
