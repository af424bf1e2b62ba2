#include "volume/fileops/chain_snapshot.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/resize_internal.h"

namespace vrax {

namespace {

// Clusters held by all instances of a non-resident value.
uint64_t ValueClusters(Toolkit* t, RecordChain& chain, uint32_t type) {
  uint64_t total = 0;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    const uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type);
    uint64_t clusters = 0;
    if (a != nullptr && AttrIsNonResident(a) && RunListClusters(a, clusters)) total += clusters;
  }
  return total;
}

// Frees the clusters that VCNs [from, to) of the value map to.
void FreeAddedClusters(Toolkit* t, RecordChain& chain, uint32_t type, uint64_t from,
                       uint64_t to) {
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    const uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type);
    if (a == nullptr || !AttrIsNonResident(a)) continue;
    for (uint64_t vcn = from; vcn < to;) {
      uint32_t first = 0, last = 0, length = 0, lcn = 0;
      if (LookupRun(a, static_cast<uint32_t>(vcn), first, last, length, lcn, false) != kOk) break;
      const uint64_t skip = vcn - first;
      const uint64_t count = std::min<uint64_t>(last + 1ull, to) - vcn;
      FreeClusters(t, lcn + static_cast<uint32_t>(skip), static_cast<uint32_t>(count));
      vcn += count;
    }
  }
}

}  // namespace

int32_t ChainSnapshot::Take(Toolkit* t, RecordChain& chain) {
  try {
    for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
      images_.push_back(Image{b->recordNumber,
                              std::vector<uint8_t>(b->image, b->image + t->recordSize)});
    }
    uint32_t size = 0;
    if (AttributeSize(t, chain, AT_BITMAP, size) == kOk && size != 0) {
      bitmap_.assign(size, 0);
      uint32_t done = 0;
      const int32_t error = AttributeTransfer(t, AT_BITMAP, chain, bitmap_.data(), size, 0, done,
                                              kTransferRead);
      if (error != kOk) return error;
    }
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  allocationClusters_ = ValueClusters(t, chain, AT_INDEX_ALLOCATION);
  bitmapClusters_ = ValueClusters(t, chain, AT_BITMAP);
  return kOk;
}

void ChainSnapshot::Restore(Toolkit* t, RecordChain& chain) const {
  const uint64_t allocation = ValueClusters(t, chain, AT_INDEX_ALLOCATION);
  if (allocation > allocationClusters_) {
    FreeAddedClusters(t, chain, AT_INDEX_ALLOCATION, allocationClusters_, allocation);
  }
  const uint64_t bitmap = ValueClusters(t, chain, AT_BITMAP);
  if (bitmap > bitmapClusters_) FreeAddedClusters(t, chain, AT_BITMAP, bitmapClusters_, bitmap);
  for (RecordBuffer* b = chain.head; b != nullptr;) {
    RecordBuffer* next = b->next;
    bool kept = false;
    for (const Image& image : images_) kept = kept || image.recordNumber == b->recordNumber;
    if (!kept) {
      const uint32_t number = b->recordNumber;
      chain.Remove(b);
      SetRecordBit(t, kRecordFree, number);
    }
    b = next;
  }
  for (const Image& image : images_) {
    RecordBuffer* b = chain.Find(image.recordNumber);
    if (b == nullptr) {
      b = AllocRecordBuffer(t, chain);
      if (b == nullptr) continue;
      b->recordNumber = image.recordNumber;
      SetRecordBit(t, kRecordInUse, image.recordNumber);
    }
    std::memcpy(b->image, image.bytes.data(), t->recordSize);
    b->dirty = 1;
  }
  WriteChain(t, chain);
  if (!bitmap_.empty()) {
    uint32_t done = 0;
    AttributeTransfer(t, AT_BITMAP, chain, const_cast<uint8_t*>(bitmap_.data()),
                      static_cast<uint32_t>(bitmap_.size()), 0, done, kTransferWrite);
  }
}

}  // namespace vrax
