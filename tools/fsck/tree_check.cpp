#include "tree_check.h"

#include <vector>

#include "chain.h"
#include "index_check.h"
#include "node_check.h"
#include "record_check.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

class TreeWalker {
 public:
  explicit TreeWalker(Context& context) : context_(context) {}
  void Run();

 private:
  void Reach(uint32_t n);
  void CheckSystemRecords();
  void WalkDirectory(uint32_t directory);
  void Visit(uint32_t directory, const IndexedName& entry);
  void Count(const NodeFacts& facts);

  Context& context_;
  std::vector<uint32_t> directories_;  // directories still to walk
};

void TreeWalker::Run() {
  CheckSystemRecords();
  while (!directories_.empty()) {
    const uint32_t directory = directories_.back();
    directories_.pop_back();
    WalkDirectory(directory);
  }
}

// Marks record n reached and examines it; for a base record, its extension
// records are reached with it.
void TreeWalker::Reach(uint32_t n) {
  context_.reached[n] = 1;
  const RecordState& state = ExamineRecord(context_, n);
  if (!state.Usable() || state.base != 0) return;
  Chain chain;
  if (!LoadChain(context_.mft, context_.geometry, n, chain)) return;
  for (const ChainRecord& r : chain) {
    context_.reached[r.number] = 1;
    ExamineRecord(context_, r.number);
  }
}

void TreeWalker::CheckSystemRecords() {
  const uint32_t system = std::min(record::kSystemRecords, context_.mft.records());
  for (uint32_t n = 0; n < system; ++n) Reach(n);
  for (uint32_t n = 0; n < system; ++n) {
    const RecordState& state = context_.records[n];
    if (!state.Usable() || state.base != 0) continue;
    Chain chain;
    if (!LoadChain(context_.mft, context_.geometry, n, chain)) continue;
    const Listing root{record::kRoot, "", false};
    const NodeFacts facts = CheckNode(context_, n, chain, n == record::kRoot ? &root : nullptr);
    if (n != record::kRoot) continue;
    if (!facts.directory) {
      context_.report.Problem("record 5: the root directory lacks the directory flag 0x0002");
      continue;
    }
    directories_.push_back(n);
  }
}

void TreeWalker::WalkDirectory(uint32_t directory) {
  ++context_.report.summary.directories;
  Chain chain;
  if (!LoadChain(context_.mft, context_.geometry, directory, chain)) return;
  for (const IndexedName& entry : CheckDirectoryIndex(context_, directory, chain)) {
    Visit(directory, entry);
  }
}

void TreeWalker::Visit(uint32_t directory, const IndexedName& entry) {
  const uint32_t r = entry.record;
  const std::string where =
      Format("directory %u: entry %s names record %u", directory, QuoteName(entry.name).c_str(), r);
  if (r >= context_.mft.records()) {
    context_.report.Problem(
        Format("%s beyond the MFT (%u records)", where.c_str(), context_.mft.records()));
    return;
  }
  if (context_.reached[r] != 0) {
    context_.report.Problem(
        where + (r < record::kSystemRecords ? ", a system record" : ", which is already reached"));
    return;
  }
  Reach(r);
  const RecordState& state = context_.records[r];
  if (!state.Usable()) return;  // its examination said why
  if (state.base != 0) {
    context_.report.Problem(
        Format("%s, an extension record of record %u", where.c_str(), state.base));
    return;
  }
  Chain chain;
  if (!LoadChain(context_.mft, context_.geometry, r, chain)) return;
  const Listing listing{directory, entry.name, true};
  const NodeFacts facts = CheckNode(context_, r, chain, &listing);
  if (facts.directory) {
    directories_.push_back(r);
  } else {
    Count(facts);
  }
}

void TreeWalker::Count(const NodeFacts& facts) {
  ++context_.report.summary.files;
  if (facts.hasData) context_.report.summary.fileBytes += facts.dataSize;
}

}  // namespace

void CheckTree(Context& context) {
  TreeWalker walker(context);
  walker.Run();
}

}  // namespace vrax::fsck
