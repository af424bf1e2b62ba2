// Frees that wait for the records naming them to reach the disk.
#include <new>
#include <utility>
#include <vector>

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

// Records first (their clusters are then named by nothing in use), then
// the clusters in one batch.
int32_t ApplyPendingFrees(Toolkit* t, const RecordChain* chain) {
  int32_t first = kOk;
  std::vector<ClusterRun> runs;
  for (const PendingFree& f : TakeFrees(t, chain)) {
    if (f.kind == PendingFree::kClusters) {
      try {
        runs.push_back(ClusterRun{f.first, f.count});
      } catch (const std::bad_alloc&) {
        // Not given back: they stay marked, a leak.
      }
      continue;
    }
    const int32_t error = SetRecordBit(t, kRecordFree, f.first);
    if (first == kOk) first = error;
  }
  const int32_t error = FreeClusterRuns(t, std::move(runs));
  return first == kOk ? error : first;
}

void DropPendingFrees(Toolkit* t, const RecordChain* chain) { TakeFrees(t, chain); }

}  // namespace vrax
