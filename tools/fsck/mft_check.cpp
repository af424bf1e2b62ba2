#include "mft_check.h"

#include <set>
#include <string>
#include <vector>

#include "chain.h"
#include "node_check.h"
#include "volume/format/attribute.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

std::set<uint32_t> NonResidentTypes(const Chain& chain) {
  std::set<uint32_t> types;
  for (const ChainRecord& r : chain) {
    for (const ParsedAttribute& a : r.parsed.attributes) {
      if (a.nonResident) types.insert(a.type);
    }
  }
  return types;
}

void CheckChain(Context& context, uint32_t base) {
  Chain chain;
  std::vector<std::string> problems;
  if (!LoadChain(context.mft, context.geometry, base, chain, &problems)) return;
  for (const uint32_t type : NonResidentTypes(chain)) {
    ValueLayout layout = CheckValueLayout(chain, type, context.geometry.clusterSize, base);
    problems.insert(problems.end(), layout.problems.begin(), layout.problems.end());
    for (const std::string& line : layout.leaks) context.report.Leak(line);
    if (layout.slack) context.findings.slack[base].insert(type);
  }
  for (const std::string& line : problems) context.report.Problem(line);
}

// Whether a record nothing reaches holds something a user would miss: a
// file with contents, or a directory with names.
bool HoldsData(const Chain& chain, bool directory) {
  if (!directory) return FindValue(chain, AT_DATA).length != 0;
  const AttributeValue root = FindValue(chain, AT_INDEX_ROOT);
  if (root.nonResident || root.resident.size() < ie::kRootFirstEntry + ie::kMinEntry) return false;
  const uint8_t* first = root.resident.data() + ie::kRootFirstEntry;
  return !EntryIsKeyless(first) || EntryHasSubNode(first);
}

// Whether the cluster bitmap marks every cluster of `runs`.
bool ClustersMarked(Context& context, const std::vector<HeldRun>& runs) {
  if (!context.clusterBitmapLoaded) {
    context.clusterBitmapLoaded = true;
    Chain chain;
    if (record::kClusterBitmap < context.mft.records() &&
        LoadChain(context.mft, context.geometry, record::kClusterBitmap, chain)) {
      context.clusterBitmap = FindValue(chain, AT_DATA);
    }
  }
  const AttributeValue& bitmap = context.clusterBitmap;
  for (const HeldRun& run : runs) {
    const uint64_t first = run.lcn, end = first + run.length;
    std::vector<uint8_t> bytes((end - 1) / 8 - first / 8 + 1);
    if (!bitmap.present ||
        !ReadValue(context.image, context.geometry, bitmap, first / 8, bytes.data(), bytes.size())) {
      return false;
    }
    for (uint64_t k = first; k < end; ++k) {
      if (((bytes[k / 8 - first / 8] >> (k % 8)) & 1) == 0) return false;
    }
  }
  return true;
}

// A base record nothing reaches can have a name again when it is sound
// and whole, none of its clusters is used by a reachable record and all of
// them are marked in use (else it is an old copy of a file removed or
// living on elsewhere).
void JudgeOrphan(Context& context, uint32_t n, OrphanRecord& orphan) {
  const RecordState& state = context.records[n];
  orphan.chain.push_back(n);
  if (n < record::kSystemRecords || state.status != RecordState::kSound || state.base != 0) return;
  Chain chain;
  std::vector<std::string> problems;
  if (!LoadChain(context.mft, context.geometry, n, chain, &problems) || !problems.empty()) return;
  orphan.chain.clear();
  bool whole = true;
  for (const ChainRecord& r : chain) {
    orphan.chain.push_back(r.number);
    const RecordState& s = context.records[r.number];
    whole = whole && context.mft.InUse(r.number) && context.reached[r.number] == 0 &&
            s.status == RecordState::kSound;
    for (const HeldRun& run : s.runs) whole = whole && !context.claims.Overlaps(run.lcn, run.length);
    whole = whole && ClustersMarked(context, s.runs);
  }
  orphan.directory = (state.flags & record::kFlagDirectory) != 0;
  const bool named = ReadOwnName(context, chain, orphan.parent, orphan.name);
  orphan.holdsData = HoldsData(chain, orphan.directory);
  orphan.reconnect = whole && named;
}

}  // namespace

void CheckChains(Context& context) {
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    const RecordState& state = context.records[n];
    if (context.reached[n] == 0 || !state.Usable() || state.base != 0) continue;
    CheckChain(context, n);
  }
}

void CheckReachability(Context& context) {
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    const bool inUse = context.mft.InUse(n);
    const bool reached = context.reached[n] != 0;
    if (inUse && !reached) {
      const RecordState& state = context.records[n];
      std::string detail;
      if (state.status == RecordState::kUnreadable && !state.problems.empty()) {
        detail = " (" + state.problems.front().substr(state.problems.front().find(": ") + 2) + ")";
      }
      context.report.Leak(Format("record %u: in use but unreachable%s", n, detail.c_str()));
      OrphanRecord orphan;
      orphan.record = n;
      JudgeOrphan(context, n, orphan);
      context.findings.orphans.push_back(orphan);
    } else if (reached && !inUse) {
      context.report.Problem(
          Format("record %u: reachable but not marked in use in the MFT bitmap", n));
      context.findings.unmarkedRecords.insert(n);
    }
  }
}

}  // namespace vrax::fsck
