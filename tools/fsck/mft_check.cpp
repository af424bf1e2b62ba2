#include "mft_check.h"

#include <set>
#include <string>
#include <vector>

#include "chain.h"

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

void CheckChain(Context& context, uint32_t base, std::vector<uint8_t>& isExtension) {
  Chain chain;
  std::vector<std::string> problems;
  if (!LoadChain(context.mft, context.geometry, base, chain, &problems)) return;
  for (size_t i = 1; i < chain.size(); ++i) isExtension[chain[i].number] = 1;
  for (const uint32_t type : NonResidentTypes(chain)) {
    CheckValueLayout(chain, type, context.geometry.clusterSize, base, problems);
  }
  for (const std::string& line : problems) context.report.Problem(line);
}

}  // namespace

void CheckChains(Context& context) {
  // The MFT's own extension records carry base record 0, like base records;
  // walking in record order meets record 0 first and so knows them.
  std::vector<uint8_t> isExtension(context.mft.records(), 0);
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    const RecordState& state = context.records[n];
    if (!state.Usable() || state.base != 0 || isExtension[n] != 0) continue;
    CheckChain(context, n, isExtension);
  }
}

void CheckReachability(Context& context) {
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    const bool inUse = context.mft.InUse(n);
    const bool reached = context.reached[n] != 0;
    if (inUse && !reached) {
      context.report.Problem(Format("record %u: in use but unreachable", n));
    } else if (reached && !inUse) {
      context.report.Problem(
          Format("record %u: reachable but not marked in use in the MFT bitmap", n));
    }
  }
}

}  // namespace vrax::fsck
