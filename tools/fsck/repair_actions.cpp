#include "repair_actions.h"

#include <set>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/resize_internal.h"
#include "volume/fileops/fileops.h"
#include "volume/format/descriptor.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"
#include "volume/index/index.h"
#include "volume/index/index_update.h"

namespace vrax::fsck {

namespace {

constexpr char kLostAndFound[] = "lost+found";

// A name the engine can link: 1 to 255 characters without "/" or NUL,
// neither "." nor "..".
bool Linkable(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos && name != "." && name != "..";
}

uint32_t BitmapBytes(uint32_t blocks) { return (blocks + 7) / 8; }

}  // namespace

void Repairer::Done(const std::string& line) {
  ++made_;
  report_.Repaired(line);
}

// Index bitmaps first: the engine changes no index whose bitmap is short.
void Repairer::Records(const Findings& findings) {
  for (const uint32_t directory : findings.indexBitmaps) RebuildIndexBitmap(directory);
  std::set<std::tuple<uint32_t, std::string, uint32_t>> seen;
  for (const BadEntry& entry : findings.badEntries) {
    if (seen.insert({entry.directory, entry.name, entry.record}).second) RemoveEntry(entry);
  }
  for (const uint32_t n : findings.unmarkedRecords) MarkRecord(n);
  for (const auto& [n, size] : findings.descriptorSizes) SetDescriptorSize(n, size);
  for (const auto& [n, types] : findings.slack) {
    for (const uint32_t type : types) ShedSlack(n, type);
  }
  Orphans(findings);
}

// The entry goes only if the index gives the record it was found naming.
void Repairer::RemoveEntry(const BadEntry& entry) {
  RecordChain dir;
  if (OpenRecord(root_, dir, entry.directory) != kOk) return;
  const auto n = static_cast<uint32_t>(entry.name.size());
  uint32_t removed = 0;
  if (UnlinkName(root_, dir, entry.name.c_str(), n, removed) != kOk) return;
  if (removed != entry.record) {
    LinkName(root_, dir, entry.name.c_str(), n, removed);
    return;
  }
  Done(Format("directory %u: removed entry %s (record %u)", entry.directory,
              QuoteName(entry.name).c_str(), entry.record));
}

void Repairer::MarkRecord(uint32_t n) {
  if (SetRecordBit(root_, kRecordInUse, n) == kOk) {
    Done(Format("record %u: marked in use (its name reaches it)", n));
  }
}

// One bit per block of the allocation, set for the blocks the index
// reaches. Blocks that lose their bit are first written as empty nodes, as
// every free block is.
void Repairer::RebuildIndexBitmap(uint32_t directory) {
  RecordChain dir;
  std::unordered_set<uint32_t> reached;
  uint32_t size = 0, length = 0;
  if (OpenRecord(root_, dir, directory) != kOk || ReachableIndexBlocks(root_, dir, reached) != kOk ||
      AttributeSize(root_, dir, AT_INDEX_ALLOCATION, size) != kOk ||
      AttributeSize(root_, dir, AT_BITMAP, length) != kOk) {
    return;
  }
  const uint32_t B = root_->indexBlockSize;
  const uint32_t perBlock = B / root_->clusterSize;
  if (perBlock == 0) return;
  const uint32_t blocks = size / B;
  std::vector<uint8_t> old(length, 0), bits(BitmapBytes(blocks), 0);
  uint32_t done = 0;
  if (AttributeTransfer(root_, AT_BITMAP, dir, old.data(), length, 0, done, kTransferRead) != kOk) {
    return;
  }
  std::vector<uint8_t> empty(B, 0);
  for (uint32_t k = 0; k < blocks; ++k) {
    const bool was = k / 8 < done && ((old[k / 8] >> (k % 8)) & 1) != 0;
    if (reached.count(k * perBlock) != 0) {
      bits[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
    } else if (was && IndexBlockInit(root_, dir, empty.data(), k * B) != kOk) {
      return;
    }
  }
  const uint32_t wanted = static_cast<uint32_t>(bits.size());
  if (wanted != length && SetAttributeSize(root_, dir, AT_BITMAP, wanted) != kOk) return;
  if (wanted != 0 &&
      AttributeTransfer(root_, AT_BITMAP, dir, bits.data(), wanted, 0, done, kTransferWrite) != kOk) {
    return;
  }
  if (CommitChain(root_, dir, wanted < length ? ChainOrder::kShrink : ChainOrder::kGrow) == kOk) {
    Done(Format("directory %u: index bitmap rebuilt for %u blocks, %zu in use", directory, blocks,
                reached.size()));
  }
}

void Repairer::SetDescriptorSize(uint32_t n, uint32_t size) {
  RecordChain chain;
  uint8_t descriptor[kDescriptorSize] = {};
  uint32_t done = 0;
  if (OpenRecord(root_, chain, n) != kOk ||
      AttributeTransfer(root_, AT_OSK_FILEDES, chain, descriptor, kDescriptorSize, 0, done,
                        kTransferRead) != kOk ||
      done != kDescriptorSize) {
    return;
  }
  vrax::SetDescriptorSize(descriptor, size);
  if (AttributeTransfer(root_, AT_OSK_FILEDES, chain, descriptor, kDescriptorSize, 0, done,
                        kTransferWrite) == kOk &&
      CommitChain(root_, chain) == kOk) {
    Done(Format("record %u: descriptor size set to the data size %u", n, size));
  }
}

// Runs beyond the allocated size (left by a crash between writing a
// value's runs and its sizes) hold nothing: they are given back.
void Repairer::ShedSlack(uint32_t n, uint32_t type) {
  RecordChain chain;
  uint32_t size = 0;
  if (OpenRecord(root_, chain, n) != kOk || AttributeSize(root_, chain, type, size) != kOk ||
      TruncateValue(root_, chain, type, size) != kOk) {
    return;
  }
  if (CommitChain(root_, chain, ChainOrder::kShrink) == kOk) {
    Done(Format("record %u: attribute 0x%X: clusters beyond its allocated size given back", n,
                type));
  }
}

// Records inside a directory that is reconnected in this round wait: they
// are likely reached through it from now on, and the next round sees.
void Repairer::Orphans(const Findings& findings) {
  std::set<uint32_t> directories, kept;
  for (const OrphanRecord& orphan : findings.orphans) {
    if (orphan.reconnect && orphan.directory) directories.insert(orphan.record);
  }
  auto waits = [&directories](const OrphanRecord& o) {
    return o.parent != o.record && directories.count(o.parent) != 0;
  };
  for (const OrphanRecord& orphan : findings.orphans) {
    if (waits(orphan)) {
      kept.insert(orphan.chain.begin(), orphan.chain.end());
    } else if (orphan.reconnect && Reconnect(orphan, findings)) {
      kept.insert(orphan.chain.begin(), orphan.chain.end());
    }
  }
  for (const OrphanRecord& orphan : findings.orphans) {
    if (kept.count(orphan.record) != 0) continue;
    if (SetRecordBit(root_, kRecordFree, orphan.record) == kOk) {
      Done(Format("record %u: in use but unreachable, marked free", orphan.record));
    }
  }
}

// A record nothing reaches goes back under the name it holds itself when
// its directory exists and the name is free there (a rename, a removal or
// a creation cut short); otherwise, when it holds data, into /lost+found
// as #<record number>.
bool Repairer::Reconnect(const OrphanRecord& orphan, const Findings& findings) {
  if (findings.directories.count(orphan.parent) != 0 && Linkable(orphan.name) &&
      LinkIn(orphan.parent, orphan.name, orphan.record)) {
    Done(Format("record %u: reconnected as %s in directory %u", orphan.record,
                QuoteName(orphan.name).c_str(), orphan.parent));
    return true;
  }
  if (!orphan.holdsData) return false;
  const uint32_t lost = LostAndFound();
  if (lost == 0xFFFFFFFFu) return false;
  const std::string name = "#" + std::to_string(orphan.record);
  RecordChain chain;
  if (OpenRecord(root_, chain, orphan.record) != kOk ||
      SetFileName(root_, chain, lost, name.c_str(), static_cast<uint32_t>(name.size())) != kOk ||
      CommitChain(root_, chain) != kOk || !LinkIn(lost, name, orphan.record)) {
    return false;
  }
  Done(Format("record %u: reconnected as /%s/%s", orphan.record, kLostAndFound, name.c_str()));
  return true;
}

bool Repairer::LinkIn(uint32_t directory, const std::string& name, uint32_t record) {
  RecordChain dir;
  if (OpenRecord(root_, dir, directory) != kOk) return false;
  uint32_t existing = 0;
  const auto n = static_cast<uint32_t>(name.size());
  const int32_t found = IndexLookup(root_, dir, name.c_str(), n, existing);
  if (found == kOk && existing != 0xFFFFFFFFu) return false;  // the name is taken
  if (found != kOk && found != kErrPathNotFound) return false;
  return LinkName(root_, dir, name.c_str(), n, record) == kOk;
}

uint32_t Repairer::LostAndFound() {
  uint32_t n = 0;
  if (WalkPath(root_, record::kRoot, kLostAndFound, n) == kOk) return n;
  if (ToolkitMakeDirectory("/1/lost+found") != kOk ||
      WalkPath(root_, record::kRoot, kLostAndFound, n) != kOk) {
    return 0xFFFFFFFFu;
  }
  Done("directory /lost+found made");
  return n;
}

void Repairer::Clusters(const Findings& findings) {
  uint64_t freed = 0, marked = 0;
  for (const ClusterRange& r : findings.leakedClusters) {
    const auto count = static_cast<uint32_t>(r.end - r.first);
    if (FreeClusters(root_, static_cast<uint32_t>(r.first), count) == kOk) freed += count;
  }
  for (const ClusterRange& r : findings.unmarkedClusters) {
    const auto count = static_cast<uint32_t>(r.end - r.first);
    if (MarkClusters(root_, static_cast<uint32_t>(r.first), count) == kOk) marked += count;
  }
  if (freed != 0) {
    Done(Format("cluster bitmap: %llu leaked clusters marked free",
                static_cast<unsigned long long>(freed)));
  }
  if (marked != 0) {
    Done(Format("cluster bitmap: %llu clusters in use marked", static_cast<unsigned long long>(marked)));
  }
}

}  // namespace vrax::fsck
