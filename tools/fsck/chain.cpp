#include "chain.h"

#include <algorithm>

#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"

namespace vrax::fsck {

namespace {

void Note(std::vector<std::string>* problems, const std::string& line) {
  if (problems != nullptr) problems->push_back(line);
}

bool InChain(const Chain& chain, uint32_t n) {
  return std::any_of(chain.begin(), chain.end(),
                     [n](const ChainRecord& r) { return r.number == n; });
}

bool ReadChainRecord(const Mft& mft, const Geometry& g, uint32_t n, ChainRecord& out) {
  out.number = n;
  if (mft.ReadRecord(n, out.image) != ReadStatus::kOk) return false;
  out.parsed = ParseRecord(out.image.data(), g);
  return true;
}

// The entries of the attribute list held in `holder`, if any.
std::vector<AttributeListEntry> ListEntries(const ChainRecord& holder,
                                            std::vector<std::string>* problems) {
  std::vector<AttributeListEntry> entries;
  for (const ParsedAttribute& a : holder.parsed.attributes) {
    if (a.type != AT_ATTRIBUTE_LIST) continue;
    if (a.nonResident) {
      Note(problems, Format("record %u: attribute list is non-resident", holder.number));
      return entries;
    }
    const uint8_t* list = holder.image.data() + a.valueOffset;
    uint32_t pos = 0;
    AttributeListEntry entry;
    for (;;) {
      const uint32_t at = pos;
      const ListStatus status = DecodeAttributeListEntry(list, a.valueLength, pos, entry);
      if (status == ListStatus::kEnd) break;
      if (status == ListStatus::kMalformed) {
        Note(problems,
             Format("record %u: attribute list is malformed at byte %u", holder.number, at));
        break;
      }
      entries.push_back(entry);
    }
    return entries;
  }
  return entries;
}

// True when the chain record holds the listed instance.
bool HoldsInstance(const ChainRecord& r, const AttributeListEntry& entry) {
  return std::any_of(
      r.parsed.attributes.begin(), r.parsed.attributes.end(), [&entry](const ParsedAttribute& a) {
        return a.type == entry.type && (a.nonResident ? a.firstVcn : 0) == entry.firstVcn;
      });
}

void CheckListedInstances(const Chain& chain, uint32_t holder,
                          const std::vector<AttributeListEntry>& entries,
                          std::vector<std::string>* problems) {
  for (const AttributeListEntry& e : entries) {
    for (const ChainRecord& r : chain) {
      if (r.number == e.record && !HoldsInstance(r, e)) {
        Note(problems, Format("record %u: attribute list names %s at VCN %u in record %u, "
                              "which does not hold it",
                              holder, AttributeLabel(e.type).c_str(), e.firstVcn, e.record));
      }
    }
  }
}

// Appends the records the list of chain[index] names.
void FollowList(const Mft& mft, const Geometry& g, uint32_t base, Chain& chain, size_t index,
                std::vector<std::string>* problems) {
  const uint32_t holder = chain[index].number;
  const std::vector<AttributeListEntry> entries = ListEntries(chain[index], problems);
  for (const AttributeListEntry& e : entries) {
    if (InChain(chain, e.record)) continue;
    if (e.record >= mft.records()) {
      Note(problems, Format("record %u: attribute list names record %u beyond the MFT (%u records)",
                            holder, e.record, mft.records()));
      continue;
    }
    ChainRecord extension;
    if (!ReadChainRecord(mft, g, e.record, extension)) {
      Note(problems, Format("record %u: attribute list names record %u, which cannot be read",
                            holder, e.record));
      continue;
    }
    if (extension.parsed.base != base) {
      Note(problems, Format("record %u: attribute list names record %u, whose base record is %u",
                            holder, e.record, extension.parsed.base));
      continue;
    }
    chain.push_back(std::move(extension));
  }
  CheckListedInstances(chain, holder, entries, problems);
}

}  // namespace

bool LoadChain(const Mft& mft, const Geometry& g, uint32_t base, Chain& chain,
               std::vector<std::string>* problems) {
  chain.clear();
  ChainRecord first;
  if (!ReadChainRecord(mft, g, base, first)) return false;
  chain.push_back(std::move(first));
  // Each record enters the chain once, so this ends after at most as many
  // steps as the MFT holds records.
  for (size_t i = 0; i < chain.size(); ++i) FollowList(mft, g, base, chain, i, problems);
  return true;
}

}  // namespace vrax::fsck
