#include "tree_check.h"

#include <map>
#include <vector>

#include "chain.h"
#include "index_check.h"
#include "node_check.h"
#include "record_check.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

// A directory entry that names a record reached before.
struct SecondName {
  uint32_t directory = 0;
  std::string name;
};

class TreeWalker {
 public:
  explicit TreeWalker(Context& context) : context_(context) {}
  void Run();

 private:
  void Reach(uint32_t n);
  void CheckSystemRecords();
  void WalkDirectory(uint32_t directory);
  void Visit(uint32_t directory, const IndexedName& entry);
  bool FreeRecordIsRight(uint32_t directory, const IndexedName& entry);
  void DecideSecondNames();
  void Count(const NodeFacts& facts);
  void Drop(uint32_t directory, const IndexedName& entry) {
    context_.findings.badEntries.push_back(BadEntry{directory, entry.name, entry.record});
  }

  Context& context_;
  std::vector<uint32_t> directories_;  // directories still to walk
  std::map<uint32_t, SecondName> firstName_;  // how each record was first reached
  std::map<uint32_t, std::vector<SecondName>> secondNames_;
};

void TreeWalker::Run() {
  CheckSystemRecords();
  while (!directories_.empty()) {
    const uint32_t directory = directories_.back();
    directories_.pop_back();
    WalkDirectory(directory);
  }
  DecideSecondNames();
}

// Marks record n reached, examines it and reports what is wrong with it;
// for a base record, its extension records are reached with it.
void TreeWalker::Reach(uint32_t n) {
  context_.reached[n] = 1;
  const RecordState& state = ExamineRecord(context_, n);
  ReportRecordProblems(context_, n);
  if (!state.Usable() || state.base != 0) return;
  Chain chain;
  if (!LoadChain(context_.mft, context_.geometry, n, chain)) return;
  for (const ChainRecord& r : chain) {
    context_.reached[r.number] = 1;
    ExamineRecord(context_, r.number);
    ReportRecordProblems(context_, r.number);
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
  context_.directories.push_back(directory);
  Chain chain;
  if (!LoadChain(context_.mft, context_.geometry, directory, chain)) return;
  for (const IndexedName& entry : CheckDirectoryIndex(context_, directory, chain)) {
    Visit(directory, entry);
  }
}

// A free record that an entry names is taken for the file the entry means
// only when the record says so itself: a sound base record whose file name
// gives this directory and this name. Then only its MFT bit is wrong.
bool TreeWalker::FreeRecordIsRight(uint32_t directory, const IndexedName& entry) {
  const RecordState& state = ExamineRecord(context_, entry.record);
  if (state.status != RecordState::kSound || state.base != 0) return false;
  Chain chain;
  std::vector<std::string> problems;
  if (!LoadChain(context_.mft, context_.geometry, entry.record, chain, &problems) ||
      !problems.empty()) {
    return false;
  }
  uint32_t parent = 0;
  std::string name;
  return ReadOwnName(context_, chain, parent, name) && parent == directory && name == entry.name;
}

void TreeWalker::Visit(uint32_t directory, const IndexedName& entry) {
  const uint32_t r = entry.record;
  const std::string where =
      Format("directory %u: entry %s names record %u", directory, QuoteName(entry.name).c_str(), r);
  if (r >= context_.mft.records()) {
    context_.report.Problem(
        Format("%s beyond the MFT (%u records)", where.c_str(), context_.mft.records()));
    Drop(directory, entry);
    return;
  }
  if (context_.reached[r] != 0) {
    if (r < record::kSystemRecords) {
      context_.report.Problem(where + ", a system record");
      return;
    }
    context_.report.Problem(where + ", which is already reached");
    secondNames_[r].push_back(SecondName{directory, entry.name});
    return;
  }
  if (!context_.mft.InUse(r) && !FreeRecordIsRight(directory, entry)) {
    context_.report.Problem(where + ", which is free");
    Drop(directory, entry);
    return;
  }
  const RecordState& examined = ExamineRecord(context_, r);
  if (examined.Usable() && examined.base != 0) {
    context_.report.Problem(
        Format("%s, an extension record of record %u", where.c_str(), examined.base));
    Drop(directory, entry);
    return;
  }
  Reach(r);
  firstName_[r] = SecondName{directory, entry.name};
  const RecordState& state = context_.records[r];
  if (!state.Usable()) return;  // its examination said why
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

// A record listed under several names keeps the one its own file name
// gives (the first one reached when none matches); the others go. A first
// name that is not the record's own is already marked to go by CheckNode.
void TreeWalker::DecideSecondNames() {
  for (const auto& [r, others] : secondNames_) {
    const SecondName& first = firstName_[r];
    Chain chain;
    uint32_t parent = 0;
    std::string own;
    const bool named = LoadChain(context_.mft, context_.geometry, r, chain) &&
                       ReadOwnName(context_, chain, parent, own);
    auto right = [&](const SecondName& s) { return named && s.directory == parent && s.name == own; };
    bool kept = right(first);
    for (const SecondName& s : others) {
      if (!kept && right(s)) {
        kept = true;
      } else {
        context_.findings.badEntries.push_back(BadEntry{s.directory, s.name, r});
      }
    }
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
