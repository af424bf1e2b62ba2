// Which clusters the records use, and by whom.
//
// Every run of every examined record claims its clusters. The claims are
// kept as disjoint ranges, so memory follows the number of runs, not the
// size of the volume; a cluster claimed a second time is reported with both
// owners and stays with its first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>

#include "report.h"

namespace vrax::fsck {

// The owner of the clusters that hold the boot sector when no record
// claims them: they are in use whether or not a record says so.
constexpr uint32_t kBootOwner = 0xFFFFFFFF;

class ClusterClaims {
 public:
  // Claims `length` clusters from `lcn` for attribute `type` of `record`;
  // reports (when `report` is given) every part that another record (or the
  // same one) claimed before.
  void Claim(uint32_t lcn, uint32_t length, uint32_t record, uint32_t type, Report* report);

  // True when some of the `length` clusters from `lcn` are claimed.
  bool Overlaps(uint32_t lcn, uint32_t length) const;

  // True when cluster k was claimed more than once.
  bool Shared(uint64_t k) const {
    auto it = shared_.upper_bound(k);
    return it != shared_.begin() && std::prev(it)->second > k;
  }

  // Claims cluster `lcn` for the boot sector unless a record already did.
  void ClaimBoot(uint32_t lcn);

  // Walks the volume's clusters in order as alternating stretches: calls
  // `visit(first, end, used)` for [first, end) up to `clusterCount`.
  template <typename Visit>
  void ForEachStretch(uint64_t clusterCount, Visit visit) const;

 private:
  struct Owner {
    uint64_t end;  // one past the last cluster
    uint32_t record;
    uint32_t type;
  };
  std::map<uint64_t, Owner> claims_;  // by first cluster; ranges never overlap
  std::map<uint64_t, uint64_t> shared_;  // first -> end of stretches claimed twice
};

template <typename Visit>
void ClusterClaims::ForEachStretch(uint64_t clusterCount, Visit visit) const {
  uint64_t pos = 0;
  for (const auto& [first, owner] : claims_) {
    if (pos >= clusterCount) return;
    if (first > pos) visit(pos, std::min(first, clusterCount), false);
    const uint64_t start = std::max(first, pos);
    const uint64_t end = std::min(owner.end, clusterCount);
    if (end > start) visit(start, end, true);
    pos = std::max(pos, end);
  }
  if (pos < clusterCount) visit(pos, clusterCount, false);
}

}  // namespace vrax::fsck
