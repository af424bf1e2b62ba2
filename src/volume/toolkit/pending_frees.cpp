// Frees that wait for the records naming them to reach the disk.
#include <new>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

// Takes out the pending frees of `chain` (all of them for null).
std::vector<PendingFree> TakeFrees(Toolkit* t, const RecordChain* chain) {
  std::vector<PendingFree> taken, kept;
  for (const PendingFree& f : t->pendingFrees) {
    (chain == nullptr || f.owner == chain ? taken : kept).push_back(f);
  }
  t->pendingFrees.swap(kept);
  return taken;
}

}  // namespace

void DeferFree(Toolkit* t, const RecordChain& chain, PendingFree::Kind kind, uint32_t first,
               uint32_t count) {
  try {
    t->pendingFrees.push_back(PendingFree{kind, first, count, &chain});
  } catch (const std::bad_alloc&) {
    // Not given back: it stays marked, a leak.
  }
}

int32_t ApplyPendingFrees(Toolkit* t, const RecordChain* chain) {
  int32_t first = kOk;
  for (const PendingFree& f : TakeFrees(t, chain)) {
    const int32_t error = f.kind == PendingFree::kClusters ? FreeClusters(t, f.first, f.count)
                                                           : SetRecordBit(t, kRecordFree, f.first);
    if (first == kOk) first = error;
  }
  return first;
}

void DropPendingFrees(Toolkit* t, const RecordChain* chain) { TakeFrees(t, chain); }

}  // namespace vrax
