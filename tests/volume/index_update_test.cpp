#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "helpers.h"
#include "platform/error_codes.h"
#include "support/image_toolkit.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {
namespace {

using test::Bytes;
using test::EndEntry;
using test::NamedEntry;
using Listing = std::vector<std::pair<std::string, uint32_t>>;

std::string Folded(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

struct Entry {
  std::string name;  // empty for keyless entries
  uint32_t record = 0;
  uint8_t flags = 0;
  uint32_t subNode = 0;
  uint64_t tail = 0;  // the last 8 bytes of a named entry
};

// The entries of a node from `start` up to the entry with the last flag;
// `next` is where the walk stopped.
std::vector<Entry> ParseEntries(const uint8_t* node, uint32_t start, uint32_t end,
                                uint32_t* next = nullptr) {
  std::vector<Entry> out;
  uint32_t at = start;
  while (at + ie::kMinEntry <= end) {
    const uint8_t* e = node + at;
    const uint32_t length = EntryLength(e);
    Entry entry{"", EntryRecord(e), EntryFlags(e), 0, 0};
    if (length > ie::kEndEntrySize) {
      for (uint32_t i = 0; i < e[ie::kNameLength]; ++i) entry.name.push_back(EntryNameChar(e, i));
      entry.tail = GetLE64(e + length - 8);
    }
    if (entry.flags & ie::kHasSubNode) entry.subNode = GetLE32(e + length - 8);
    out.push_back(entry);
    at += length;
    if ((entry.flags & ie::kLast) || length == 0) break;
  }
  if (next != nullptr) *next = at;
  return out;
}

std::vector<Entry> BlockEntries(const Bytes& block, uint32_t* next = nullptr) {
  return ParseEntries(block.data(), BlockEntriesStart(block.data()), BlockEntriesEnd(block.data()),
                      next);
}

std::vector<std::string> Names(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  for (const Entry& e : entries) {
    if (!e.name.empty()) names.push_back(e.name);
  }
  return names;
}

std::string Numbered(const std::string& prefix, uint32_t i, size_t width = 10) {
  std::string digits = std::to_string(i);
  return prefix + std::string(width - prefix.size() - digits.size(), '0') + digits;
}

// A formatted volume with the root directory opened.
class IndexUpdateTest : public test::VolumeTest {
 protected:
  void TearDown() override {
    Close();
    test::VolumeTest::TearDown();
  }
  void Close() {
    if (t_ != nullptr) ToolkitClose(t_);
    t_ = nullptr;
  }
  void Start(const std::string& arguments = "--size 8M") {
    Close();
    FormatAndMount(arguments);
    Reopen();
  }
  // Opens the root again, so that changes made through other opens show.
  void Reopen() {
    Close();
    t_ = Open("/1");
    ASSERT_NE(t_, nullptr);
  }

  RecordChain& Dir() { return t_->fileChain; }
  uint32_t B() const { return t_->indexBlockSize; }

  int32_t Insert(const std::string& name, uint32_t record) {
    return IndexInsert(t_, Dir(), name.data(), static_cast<uint32_t>(name.size()), record);
  }
  int32_t Remove(const std::string& name, uint32_t& record) {
    return IndexRemove(t_, Dir(), name.data(), static_cast<uint32_t>(name.size()), record);
  }
  int32_t Remove(const std::string& name) {
    uint32_t record = 0;
    return Remove(name, record);
  }
  int32_t Lookup(const std::string& name, uint32_t& record) {
    return IndexLookup(t_, Dir(), name.data(), static_cast<uint32_t>(name.size()), record);
  }

  Bytes Value(uint32_t type) {
    Bytes value(Size(type));
    uint32_t done = 0;
    if (!value.empty()) {
      EXPECT_EQ(AttributeTransfer(t_, type, Dir(), value.data(), static_cast<uint32_t>(value.size()),
                                  0, done, kTransferRead),
                0);
    }
    EXPECT_EQ(done, value.size());
    return value;
  }
  uint32_t Size(uint32_t type) {
    uint32_t size = 0;
    EXPECT_EQ(AttributeSize(t_, Dir(), type, size), 0);
    return size;
  }
  void PutRoot(const std::vector<Bytes>& entries) {
    Bytes root(ie::kRootFirstEntry, 0);
    for (const Bytes& e : entries) root.insert(root.end(), e.begin(), e.end());
    uint32_t done = 0;
    ASSERT_EQ(AttributeTransfer(t_, AT_INDEX_ROOT, Dir(), root.data(),
                                static_cast<uint32_t>(root.size()), 0, done, kTransferWrite),
              0);
    ASSERT_EQ(WriteChain(t_, Dir()), 0);
  }

  Bytes Block(uint32_t vcn) {
    Bytes block(B());
    uint32_t read = 0;
    EXPECT_EQ(IndexBlockRead(t_, Dir(), block.data(), vcn, read, false), 0) << vcn;
    return block;
  }
  void PutBlock(Bytes& block, uint32_t vcn) {
    ASSERT_EQ(IndexBlockWrite(t_, Dir(), block.data(), vcn, false), 0);
  }

  Bytes Craft(uint32_t vcn, const std::vector<Bytes>& entries, uint32_t inUse = 0) {
    return test::BlockWith(B(), t_->bytesPerSector, vcn, entries, inUse);
  }

  std::vector<Entry> RootEntries() {
    const Bytes root = Value(AT_INDEX_ROOT);
    return ParseEntries(root.data(), ie::kRootFirstEntry, static_cast<uint32_t>(root.size()));
  }

  bool BitSet(uint32_t block) {
    const Bytes bitmap = Value(AT_BITMAP);
    return block / 8 < bitmap.size() && ((bitmap[block / 8] >> (block % 8)) & 1);
  }

  // Walks the tree independently of the engine's readers, checks the shape
  // this engine keeps, and sets shape_ to the blocks in the order reached,
  // e.g. "root>0 | 0: b>1 $>2 | 1: a $ | 2: c..f(4) $" (">n": sub-node at
  // VCN n, "$": end entry, "x..y(n)": n names without sub-nodes).
  std::vector<std::string> CheckTree() {
    std::vector<std::string> names;
    const std::vector<Entry> root = RootEntries();
    EXPECT_EQ(root.size(), 1u);
    EXPECT_EQ(Value(AT_INDEX_ROOT).size(), ie::kNewRootSize);
    std::set<uint32_t> reached;
    const uint32_t per = B() / t_->clusterSize;
    std::vector<std::string> shape;
    const auto link = [](const Entry& e) {
      return (e.flags & ie::kHasSubNode) ? ">" + std::to_string(e.subNode) : std::string();
    };
    std::function<void(uint32_t)> walk = [&](uint32_t vcn) {
      if (!reached.insert(vcn).second) {
        ADD_FAILURE() << "block reached twice: " << vcn;
        return;
      }
      const Bytes block = Block(vcn);
      EXPECT_EQ(BlockVcn(block.data()), vcn);
      uint32_t next = 0;
      const std::vector<Entry> entries = BlockEntries(block, &next);
      EXPECT_EQ(next, BlockBytesInUse(block.data())) << vcn;
      EXPECT_FALSE(Names(entries).empty()) << "block without names: " << vcn;
      std::string text = std::to_string(vcn) + ":";
      std::vector<std::string> plain;
      const auto flush = [&] {
        if (plain.size() >= 3) {
          text += " " + plain.front() + ".." + plain.back() + "(" + std::to_string(plain.size()) + ")";
        } else {
          for (const std::string& n : plain) text += " " + n;
        }
        plain.clear();
      };
      for (const Entry& e : entries) {
        if (!e.name.empty() && !(e.flags & ie::kHasSubNode)) {
          EXPECT_EQ(e.tail, 0u) << e.name;
          plain.push_back(e.name);
          continue;
        }
        flush();
        text += " " + (e.name.empty() ? "$" : e.name) + link(e);
      }
      flush();
      shape.push_back(text);
      for (const Entry& e : entries) {
        if (e.flags & ie::kHasSubNode) walk(e.subNode);
        if (!e.name.empty()) names.push_back(e.name);
      }
      EXPECT_EQ(entries.back().flags & ie::kLast, ie::kLast);
      EXPECT_TRUE(entries.back().name.empty());
    };
    shape_ = "root" + (root.empty() ? "?" : link(root[0]));
    if (!root.empty() && (root[0].flags & ie::kHasSubNode)) walk(root[0].subNode);
    for (const std::string& s : shape) shape_ += " | " + s;
    const uint32_t blocks = Size(AT_INDEX_ALLOCATION) / B();
    EXPECT_EQ(Size(AT_BITMAP), (blocks + 7) / 8);
    for (uint32_t k = 0; k < blocks; ++k) {
      EXPECT_EQ(BitSet(k), reached.count(k * per) == 1) << "bit " << k;
    }
    for (size_t i = 1; i < names.size(); ++i) {
      EXPECT_TRUE(test::IndexOrderBefore(names[i - 1], names[i])) << names[i - 1] << " / " << names[i];
    }
    return names;
  }

  void ExpectEmptyRoot() {
    Bytes empty(ie::kNewRootSize);
    BuildEmptyRoot(empty.data());
    EXPECT_EQ(Value(AT_INDEX_ROOT), empty);
  }

  Toolkit* t_ = nullptr;
  std::string shape_;
};

// One step of a sequence in the root directory.
struct Op {
  // '+' / '-': create / remove the files `text` numbered `from` to `to`
  // (downwards if `from` > `to`) by `step`; '=': the tree's shape is
  // `text`; 'E': block `from` holds only an end entry; 'A': the index allocation
  // is `from` bytes.
  char kind;
  std::string text;
  uint32_t from = 0, to = 0, step = 1;
};
struct Sequence {
  const char* what;
  const char* geometry;
  std::vector<Op> ops;
};

std::vector<uint32_t> Range(const Op& op) {
  std::vector<uint32_t> out;
  for (uint32_t i = op.from; op.from <= op.to ? i <= op.to : (i >= op.to && i <= op.from);
       i = op.from <= op.to ? i + op.step : i - op.step) {
    out.push_back(i);
  }
  return out;
}

// A full top block splits in place: the names in front of the split entry
// go to one fresh block, those behind it to another, and the top block
// keeps the split entry and its end entry leading to the two. Names added
// in order leave the first block full; a block emptied by a removal is
// freed and its parent's link cleared, or the sub-tree handed on; an entry
// whose sub-tree would meet its neighbour's is replaced by its successor.
TEST_F(IndexUpdateTest, SequencesKeepTheTreeTheModelAndTheCheckerInStep) {
  const std::string k34 = "name000001..name000034(34) $";
  const std::vector<Sequence> sequences = {
      {"first name", "--size 8M",
       {{'+', "name", 1, 1}, {'=', "root>0 | 0: name000001 $"}, {'A', "", 128 * 4096},
        {'E', "", 1}, {'E', "", 127}}},
      {"ascending split, undone by removals", "--size 8M",
       {{'+', "name", 1, 35},
        {'=', "root>0 | 0: name000001..name000035(35) $"},
        {'+', "name", 36, 36},
        {'=', "root>0 | 0: name000035>1 $>2 | 1: " + k34 + " | 2: name000036 $"},
        {'-', "name", 36, 36},
        {'=', "root>0 | 0: name000035>1 $ | 1: " + k34},
        {'E', "", 2},
        {'-', "name", 35, 35},
        {'=', "root>1 | 1: " + k34},
        {'+', "name", 35, 35},
        {'=', "root>1 | 1: name000001..name000035(35) $"},
        {'A', "", 128 * 4096}}},
      {"successor takes the removed entry's place", "--size 8M",
       {{'+', "name", 1, 36}, {'-', "name", 35, 35}, {'=', "root>0 | 0: name000036>1 $ | 1: " + k34}}},
      {"descending split, the only name of a child removed", "--size 8M",
       {{'+', "name", 36, 2},
        {'+', "name", 1, 1},
        {'=', "root>0 | 0: name000002>1 $>2 | 1: name000001 $ | 2: name000003..name000036(34) $"},
        {'-', "name", 1, 1},
        {'=', "root>0 | 0: name000002 $>2 | 2: name000003..name000036(34) $"}}},
      {"an entry's sub-node handed to the next entry", "--size 8M",
       {{'+', "name", 36, 1},
        {'-', "name", 2, 2},
        {'=', "root>0 | 0: name000003>1 $>2 | 1: name000001 $ | 2: name000004..name000036(33) $"}}},
      {"a middle insertion halves the block", "--size 8M",
       {{'+', "n", 2, 70, 2},
        {'+', "n", 21, 21},
        {'=', "root>0 | 0: n000000036>1 $>2 | 1: n000000002..n000000034(18) $ | "
              "2: n000000038..n000000070(17) $"}}},
      {"larger blocks grow by the same bytes, VCNs count clusters", "--size 16M --index-size 8192",
       {{'+', "big", 1, 80},
        {'A', "", 64 * 8192},
        {'=', "root>0 | 0: big0000072>2 $>4 | 2: big0000001..big0000071(71) $ | "
              "4: big0000073..big0000080(8) $"}}},
      {"small clusters make VCNs count clusters", "--size 16M --cluster-size 1024",
       {{'+', "name", 1, 36},
        {'=', "root>0 | 0: name000035>4 $>8 | 4: " + k34 + " | 8: name000036 $"},
        {'-', "name", 1, 36}}},
  };
  for (const Sequence& s : sequences) {
    SCOPED_TRACE(s.what);
    Start(s.geometry);
    std::map<std::string, uint32_t, decltype(&test::IndexOrderBefore)> model(&test::IndexOrderBefore);
    const auto verify = [&] {
      Reopen();
      CheckTree();
      EXPECT_EQ(List("/1"), Listing(model.begin(), model.end()));
    };
    for (const Op& op : s.ops) {
      SCOPED_TRACE(std::string(1, op.kind) + op.text + std::to_string(op.from));
      if (op.kind == '+' || op.kind == '-') {
        Close();
        for (const uint32_t i : Range(op)) {
          const std::string name = Numbered(op.text, i);
          const std::string path = "/1/" + name;
          if (op.kind == '-') {
            ASSERT_EQ(ToolkitRemove(path.c_str()), 0) << path;
            model.erase(name);
            continue;
          }
          Toolkit* f = nullptr;
          ASSERT_EQ(ToolkitCreateFile(f, path.c_str()), 0) << path;
          model[name] = OpenedRecordNumber(f);
          ToolkitClose(f);
        }
        continue;
      }
      Reopen();
      if (op.kind == '=') {
        verify();
        EXPECT_EQ(shape_, op.text);
      } else if (op.kind == 'A') {
        EXPECT_EQ(Size(AT_INDEX_ALLOCATION), op.from);
      } else if (op.kind == 'E') {
        const Bytes block = Block(op.from);
        EXPECT_EQ(BlockVcn(block.data()), op.from);
        const std::vector<Entry> entries = BlockEntries(block);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].flags, ie::kLast);
      }
    }
    verify();
    for (const auto& [name, record] : model) {
      uint32_t found = 0;
      ASSERT_EQ(Lookup(Folded(name), found), 0) << name;
      EXPECT_EQ(found, record) << name;
    }
    if (model.empty()) ExpectEmptyRoot();
    ExpectClean();
  }
}

// Refused insertions and removals of missing names (a prefix of a stored
// name, a stored name and more) change nothing on disk.
TEST_F(IndexUpdateTest, RefusedNamesChangeNothing) {
  Start();
  EXPECT_EQ(Remove("anything"), kErrPathNotFound);
  for (uint32_t i = 1; i <= 50; ++i) ASSERT_EQ(Insert(Numbered("m", i, 8), 16 + i), 0);
  ASSERT_EQ(Insert("README", 20), 0);
  const Bytes before = test::ReadFileBytes(image_);
  EXPECT_EQ(Insert("Readme", 21), kErrAlreadyExists);
  EXPECT_EQ(IndexInsert(t_, Dir(), "x", 0, 16), kErrInsertEmptyName);
  EXPECT_EQ(Insert(std::string(256, 'n'), 16), kErrBadPathname);
  uint32_t record = 12345;
  for (const char* name : {"m0000999", "m000001", "m00000010"}) {
    EXPECT_EQ(Remove(name, record), kErrPathNotFound) << name;
  }
  EXPECT_EQ(record, 12345u);
  EXPECT_EQ(test::ReadFileBytes(image_), before);
  ASSERT_EQ(Lookup("readme", record), 0);
  EXPECT_EQ(record, 20u);
}

// Names of every length and mixed case in random order, then half of them
// removed in another order and the rest after them: the directory ends
// with the empty root of a fresh one, its allocation kept and all free.
TEST_F(IndexUpdateTest, RandomOrdersOfThousandsOfNamesStaySorted) {
  Start("--size 32M");
  std::mt19937 random(1234);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.";
  std::map<std::string, std::pair<std::string, uint32_t>> byFolded;
  while (byFolded.size() < 3000) {
    std::string name(1 + random() % 28, ' ');
    for (char& c : name) c = alphabet[random() % alphabet.size()];
    byFolded.emplace(Folded(name), std::make_pair(name, 16 + static_cast<uint32_t>(byFolded.size())));
  }
  Listing names;
  for (const auto& entry : byFolded) names.push_back(entry.second);
  std::shuffle(names.begin(), names.end(), random);
  for (const auto& [name, record] : names) ASSERT_EQ(Insert(name, record), 0) << name;
  const auto sorted = [](Listing list) {
    std::sort(list.begin(), list.end(),
              [](const auto& a, const auto& b) { return test::IndexOrderBefore(a.first, b.first); });
    return list;
  };
  EXPECT_EQ(CheckTree().size(), names.size());
  EXPECT_EQ(List("/1"), sorted(names));
  for (const auto& [name, record] : names) {
    uint32_t found = 0;
    ASSERT_EQ(Lookup(name, found), 0) << name;
    EXPECT_EQ(found, record);
  }

  std::shuffle(names.begin(), names.end(), random);
  const size_t half = names.size() / 2;
  for (size_t i = 0; i < half; ++i) {
    uint32_t record = 0;
    ASSERT_EQ(Remove(names[i].first, record), 0) << names[i].first;
    EXPECT_EQ(record, names[i].second);
  }
  const Listing rest = sorted(Listing(names.begin() + static_cast<std::ptrdiff_t>(half), names.end()));
  EXPECT_EQ(CheckTree().size(), rest.size());
  EXPECT_EQ(List("/1"), rest);

  const uint32_t allocation = Size(AT_INDEX_ALLOCATION);
  for (size_t i = half; i < names.size(); ++i) ASSERT_EQ(Remove(names[i].first), 0);
  ExpectEmptyRoot();
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), allocation);  // the allocation never shrinks
  const Bytes bitmap = Value(AT_BITMAP);
  EXPECT_TRUE(std::all_of(bitmap.begin(), bitmap.end(), [](uint8_t v) { return v == 0; }));
}

// Nodes this engine never writes: named last entries take insertions
// behind them, and their removal puts an end entry behind them first
// unless the block has no room for it.
TEST_F(IndexUpdateTest, NamedLastEntriesTakeInsertionsBehindThemAndRemovals) {
  Start();
  ASSERT_EQ(Insert("first", 16), 0);
  Bytes top = Craft(0, {NamedEntry("kilo", 20), NamedEntry("mike", 21, ie::kLast)});
  PutBlock(top, 0);
  ASSERT_EQ(Insert("zulu", 22), 0);  // sorts after the named last entry
  EXPECT_EQ(BlockEntries(Block(0)).back().flags, ie::kLast);
  ASSERT_EQ(Insert("lima", 23), 0);
  EXPECT_EQ(Names(BlockEntries(Block(0))),
            (std::vector<std::string>{"kilo", "lima", "mike", "zulu"}));
  uint32_t record = 0;
  ASSERT_EQ(Remove("zulu", record), 0);
  EXPECT_EQ(record, 22u);
  EXPECT_EQ(CheckTree(), (std::vector<std::string>{"kilo", "lima", "mike"}));

  const uint32_t allocated = B() - indx::kNodeHeader;
  top = Craft(0, {NamedEntry("kilo", 20), NamedEntry("mike", 21, ie::kLast)}, allocated - 0x10);
  PutBlock(top, 0);
  const Bytes before = test::ReadFileBytes(image_);
  EXPECT_EQ(Remove("mike"), kErrRemoveNoRoom);
  EXPECT_EQ(Insert("zulu", 22), kErrBlockAppendNoRoom);
  EXPECT_EQ(test::ReadFileBytes(image_), before);
  ASSERT_EQ(Remove("kilo", record), 0);  // no end entry needed for this one
  EXPECT_EQ(record, 20u);
  EXPECT_EQ(Names(BlockEntries(Block(0))), (std::vector<std::string>{"mike"}));
}

TEST_F(IndexUpdateTest, RootEntriesAreRemovedOnlyWhenThatIsSound) {
  Start();
  ASSERT_EQ(Insert("zebra", 30), 0);
  PutRoot({NamedEntry("mango", 40), EndEntry(true, 0)});  // "mango" in the root itself
  uint32_t record = 0;
  ASSERT_EQ(Lookup("mango", record), 0);
  EXPECT_EQ(record, 40u);
  const Bytes before = test::ReadFileBytes(image_);
  EXPECT_EQ(Insert("apple", 50), kErrIndexRootNoSubNode);  // its place in the root has no link
  EXPECT_EQ(Insert("MANGO", 51), kErrAlreadyExists);
  EXPECT_EQ(test::ReadFileBytes(image_), before);
  ASSERT_EQ(Insert("zulu", 52), 0);  // sorts into the end entry's sub-tree
  ASSERT_EQ(Remove("mango", record), 0);
  EXPECT_EQ(record, 40u);
  EXPECT_EQ(Lookup("mango", record), kErrPathNotFound);
  EXPECT_EQ(CheckTree(), (std::vector<std::string>{"zebra", "zulu"}));

  // A root entry with a sub-node of its own cannot be taken out of the root.
  uint32_t vcn = 0;
  ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
  Bytes below = Craft(vcn, {NamedEntry("banana", 60), EndEntry()});
  PutBlock(below, vcn);
  PutRoot({NamedEntry("mango", 40, ie::kHasSubNode, vcn), EndEntry(true, 0)});
  const Bytes again = test::ReadFileBytes(image_);
  EXPECT_EQ(Remove("mango"), kErrIndexRootNoSubNode);
  EXPECT_EQ(test::ReadFileBytes(image_), again);
  ASSERT_EQ(Remove("banana", record), 0);  // names below root entries are found
  EXPECT_EQ(record, 60u);
  EXPECT_FALSE(BitSet(vcn));
}

// Damaged nodes: 114, no change, no crash.
TEST_F(IndexUpdateTest, DamagedBlocksAreRefusedWithoutChange) {
  Start();
  ASSERT_EQ(Insert("alpha", 16), 0);
  const auto sound = [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry()}); };
  const std::vector<std::pair<const char*, std::function<Bytes()>>> damages = {
      {"sub-node cycle", [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry(true, 0)}); }},
      {"zero entry length",
       [&] {
         Bytes b = sound();
         PutLE16(b.data() + BlockEntriesStart(b.data()) + ie::kLength, 0);
         return b;
       }},
      {"entry beyond bytes in use",
       [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry()}, 0x90); }},
      {"bytes in use beyond the block",
       [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry()}, B()); }},
      {"name longer than its entry",
       [&] {
         Bytes b = sound();
         b[BlockEntriesStart(b.data()) + ie::kNameLength] = 200;
         return b;
       }},
      {"header VCN elsewhere", [&] { return Craft(5, {NamedEntry("alpha", 16), EndEntry()}); }},
  };
  for (const auto& [what, make] : damages) {
    Bytes block = make();
    PutBlock(block, 0);
    const Bytes before = test::ReadFileBytes(image_);
    EXPECT_EQ(Insert("zulu", 20), kErrBadStructure) << what;
    EXPECT_EQ(Insert("beta", 21), kErrBadStructure) << what;
    EXPECT_EQ(Remove("zulu"), kErrBadStructure) << what;
    EXPECT_EQ(Remove("alpha"), kErrBadStructure) << what;
    EXPECT_EQ(test::ReadFileBytes(image_), before) << what;
  }
}

TEST_F(IndexUpdateTest, ABlockStillInUseIsNotTakenAsFresh) {
  Start();
  ASSERT_EQ(Insert("alpha", 16), 0);
  // Block 1's bit is clear but it holds a name: a split must not take it over.
  Bytes stale = Craft(1, {NamedEntry("stale", 99), EndEntry()});
  PutBlock(stale, 1);
  for (uint32_t i = 1; i <= 34; ++i) ASSERT_EQ(Insert(Numbered("name", i), 16 + i), 0);
  EXPECT_EQ(Insert("name000035", 60), kErrBadStructure);
  uint32_t record = 0;
  EXPECT_EQ(Lookup("stale", record), kErrPathNotFound);
  EXPECT_EQ(Lookup("name000035", record), kErrPathNotFound);
}

TEST_F(IndexUpdateTest, AllocationTakesFreeBitsAndGrowsByOneStep) {
  Start();
  for (uint32_t k = 0; k < 128; ++k) {
    uint32_t vcn = 999;
    ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
    ASSERT_EQ(vcn, k);
  }
  uint32_t vcn = 0;
  ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
  EXPECT_EQ(vcn, 128u);
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 256u * 4096);
  EXPECT_EQ(Size(AT_BITMAP), 32u);
  EXPECT_TRUE(BitSet(128));
  EXPECT_FALSE(BitSet(129));
  EXPECT_EQ(BlockVcn(Block(255).data()), 255u);
  ASSERT_EQ(IndexBlockFree(t_, Dir(), 77), 0);
  EXPECT_FALSE(BitSet(77));
  ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
  EXPECT_EQ(vcn, 77u);
  EXPECT_EQ(IndexBlockFree(t_, Dir(), 256), kErrBeyondAllocation);
}

}  // namespace
}  // namespace vrax
