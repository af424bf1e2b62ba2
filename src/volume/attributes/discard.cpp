// Dropping a change that failed before it was complete on disk.
#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/format/runlist.h"

namespace vrax {

namespace {

// Every cluster range and record the chain's images hold.
struct Holdings {
  std::vector<ClusterRun> runs;
  std::set<uint32_t> records;
};

Holdings HoldingsOf(Toolkit* t, RecordChain& chain) {
  Holdings h;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    h.records.insert(b->recordNumber);
    AttributeWalk walk(b->image, t->recordSize);
    while (const uint8_t* a = walk.Next()) {
      if (!AttrIsNonResident(a) || AttrRunListOffset(a) >= AttrLength(a)) continue;
      std::vector<ClusterRun> runs;
      if (DecodeRunList(a + AttrRunListOffset(a), AttrLength(a) - AttrRunListOffset(a), runs)) {
        h.runs.insert(h.runs.end(), runs.begin(), runs.end());
      }
    }
  }
  std::sort(h.runs.begin(), h.runs.end(),
            [](const ClusterRun& x, const ClusterRun& y) { return x.lcn < y.lcn; });
  return h;
}

// Frees the clusters of `from` that no run of `keep` (sorted) covers.
int32_t FreeUncovered(Toolkit* t, const std::vector<ClusterRun>& from,
                      const std::vector<ClusterRun>& keep) {
  std::vector<ClusterRun> free;
  auto add = [&free](uint64_t at, uint64_t end) {
    free.push_back(ClusterRun{static_cast<uint32_t>(at), static_cast<uint32_t>(end - at)});
  };
  for (const ClusterRun& run : from) {
    uint64_t at = run.lcn;
    const uint64_t end = static_cast<uint64_t>(run.lcn) + run.length;
    for (const ClusterRun& k : keep) {
      const uint64_t kEnd = static_cast<uint64_t>(k.lcn) + k.length;
      if (kEnd <= at || k.lcn >= end) continue;
      if (k.lcn > at) add(at, k.lcn);
      at = std::max(at, kEnd);
    }
    if (at < end) add(at, end);
  }
  return FreeClusterRuns(t, std::move(free));
}

// What the chain's images hold, and what they stopped holding but still
// wait to give back: any of it that the records on disk do not name is
// free to go.
Holdings Candidates(Toolkit* t, RecordChain& chain) {
  Holdings h = HoldingsOf(t, chain);
  for (const PendingFree& f : t->pendingFrees) {
    if (f.owner != &chain) continue;
    if (f.kind == PendingFree::kRecord) {
      h.records.insert(f.first);
    } else {
      h.runs.push_back(ClusterRun{f.first, f.count});
    }
  }
  DropPendingFrees(t, &chain);
  return h;
}

}  // namespace

int32_t DiscardChanges(Toolkit* t, RecordChain& chain) {
  if (chain.head == nullptr) return kOk;
  const Holdings memory = Candidates(t, chain);
  int32_t error = ReloadChain(t, chain);
  if (error != kOk) return error;  // what the disk names is unknown: nothing is freed
  const Holdings disk = HoldingsOf(t, chain);
  error = FreeUncovered(t, memory.runs, disk.runs);
  for (const uint32_t n : memory.records) {
    if (disk.records.count(n) != 0) continue;
    const int32_t freed = SetRecordBit(t, kRecordFree, n);
    if (error == kOk) error = freed;
  }
  return error;
}

}  // namespace vrax
