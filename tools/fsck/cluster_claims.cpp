#include "cluster_claims.h"

#include <algorithm>

#include "record_parse.h"

namespace vrax::fsck {

namespace {

std::string OwnerText(uint32_t record, uint32_t type) {
  if (record == kBootOwner) return "the boot sector";
  return Format("record %u (%s)", record, AttributeLabel(type).c_str());
}

std::string RangeText(uint64_t first, uint64_t end) {
  if (end - first == 1) return Format("cluster %llu", static_cast<unsigned long long>(first));
  return Format("clusters %llu-%llu", static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(end - 1));
}

}  // namespace

void ClusterClaims::Claim(uint32_t lcn, uint32_t length, uint32_t record, uint32_t type,
                          Report* report) {
  uint64_t pos = lcn;
  const uint64_t end = static_cast<uint64_t>(lcn) + length;
  auto it = claims_.upper_bound(pos);
  if (it != claims_.begin() && std::prev(it)->second.end > pos) --it;
  while (pos < end) {
    if (it == claims_.end() || it->first >= end) {
      claims_.emplace(pos, Owner{end, record, type});
      return;
    }
    if (it->first > pos) {
      claims_.emplace(pos, Owner{it->first, record, type});
      pos = it->first;
    }
    const uint64_t overlapEnd = std::min(end, it->second.end);
    shared_[pos] = std::max(shared_[pos], overlapEnd);
    if (report != nullptr) {
      report->Problem(Format("%s used by %s and by %s", RangeText(pos, overlapEnd).c_str(),
                             OwnerText(it->second.record, it->second.type).c_str(),
                             OwnerText(record, type).c_str()));
    }
    pos = overlapEnd;
    ++it;
  }
}

bool ClusterClaims::Overlaps(uint32_t lcn, uint32_t length) const {
  const uint64_t end = static_cast<uint64_t>(lcn) + length;
  auto it = claims_.upper_bound(lcn);
  if (it != claims_.begin() && std::prev(it)->second.end > lcn) return true;
  return it != claims_.end() && it->first < end;
}

void ClusterClaims::ClaimBoot(uint32_t lcn) {
  auto it = claims_.upper_bound(lcn);
  if (it != claims_.begin() && std::prev(it)->second.end > lcn) return;
  claims_.emplace(lcn, Owner{static_cast<uint64_t>(lcn) + 1, kBootOwner, 0});
}

}  // namespace vrax::fsck
