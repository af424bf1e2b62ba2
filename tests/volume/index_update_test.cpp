// Inserting and removing directory index names, splitting blocks, and the
// allocation of INDX blocks, on volumes made by vrax-mkfs and read back
// through the engine's public readers and an independent tree walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;
using Listing = std::vector<std::pair<std::string, uint32_t>>;

// ---------------------------------------------------------------------------
// Independent helpers: name order, entry images, tree walk.

// Name order of the index: ASCII letters folded to upper case, characters
// compared as signed bytes, a shorter name first on a tie.
int Order(const std::string& a, const std::string& b) {
  const auto fold = [](char c) {
    return static_cast<signed char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  };
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

Bytes NamedEntry(const std::string& name, uint32_t record, uint8_t flags = 0,
                 uint32_t subNode = 0) {
  Bytes e(NamedEntrySize(static_cast<uint32_t>(name.size())), 0);
  PutLE32(e.data(), record);
  PutLE16(e.data() + 8, static_cast<uint16_t>(e.size()));
  e[0x0C] = flags;
  PutLE32(e.data() + 0x10, 5);
  e[0x50] = static_cast<uint8_t>(name.size());
  e[0x51] = 3;
  for (size_t i = 0; i < name.size(); ++i) e[0x52 + 2 * i] = static_cast<uint8_t>(name[i]);
  if (flags & 1) PutLE64(e.data() + e.size() - 8, subNode);
  return e;
}

Bytes EndEntry(bool hasSubNode = false, uint32_t vcn = 0) {
  Bytes e(0x18, 0);
  WriteEndEntry(e.data(), hasSubNode, vcn);
  return e;
}

uint32_t Room(const uint8_t* block) { return BlockBytesAllocated(block) - BlockBytesInUse(block); }

struct Entry {
  std::string name;  // empty for keyless entries
  uint32_t record = 0;
  uint8_t flags = 0;
  uint32_t subNode = 0;
  uint32_t length = 0;
};

// The entries of a node from `start` up to the entry with the last flag.
std::vector<Entry> ParseEntries(const uint8_t* node, uint32_t start, uint32_t end) {
  std::vector<Entry> out;
  for (uint32_t at = start; at + 0x10 <= end;) {
    const uint8_t* e = node + at;
    Entry entry;
    entry.length = GetLE16(e + 8);
    entry.flags = e[0x0C];
    entry.record = GetLE32(e);
    if (entry.length > 0x18) {
      for (uint32_t i = 0; i < e[0x50]; ++i) {
        entry.name.push_back(static_cast<char>(e[0x52 + 2 * i]));
      }
    }
    if (entry.flags & 1) entry.subNode = GetLE32(e + entry.length - 8);
    out.push_back(entry);
    if ((entry.flags & 2) || entry.length == 0) break;
    at += entry.length;
  }
  return out;
}

std::vector<Entry> BlockEntries(const Bytes& block) {
  return ParseEntries(block.data(), BlockEntriesStart(block.data()),
                      BlockEntriesEnd(block.data()));
}

std::vector<std::string> Names(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  for (const Entry& e : entries) {
    if (!e.name.empty()) names.push_back(e.name);
  }
  return names;
}

// ---------------------------------------------------------------------------
// Fixture: a formatted volume with the root directory opened.

class IndexUpdateTest : public test::VolumeTest {
 protected:
  void TearDown() override {
    if (t_ != nullptr) ToolkitClose(t_);
    t_ = nullptr;
    test::VolumeTest::TearDown();
  }

  void Start(const std::string& arguments = "--size 8M") {
    FormatAndMount(arguments);
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

  // The whole in-order walk through IndexEnumerate.
  Listing Enumerate() {
    Listing out;
    Bytes buffer(32 * 8192);
    uint32_t skip = 0;
    uint32_t wanted = 8192;
    uint8_t* position = buffer.data();
    uint32_t left = static_cast<uint32_t>(buffer.size());
    EXPECT_EQ(IndexEnumerate(t_, Dir(), skip, wanted, position, left), 0);
    for (uint8_t* p = buffer.data(); p < position; p += 32) {
      const char* name = reinterpret_cast<const char*>(p);
      out.emplace_back(std::string(name, strnlen(name, 28)), GetLE32(p + 28));
    }
    return out;
  }

  Bytes Value(uint32_t type) {
    uint32_t size = 0;
    EXPECT_EQ(AttributeSize(t_, Dir(), type, size), 0);
    Bytes value(size);
    uint32_t done = 0;
    if (size != 0) {
      EXPECT_EQ(AttributeTransfer(t_, type, Dir(), value.data(), size, 0, done, kTransferRead), 0);
    }
    EXPECT_EQ(done, size);
    return value;
  }
  uint32_t Size(uint32_t type) {
    uint32_t size = 0;
    EXPECT_EQ(AttributeSize(t_, Dir(), type, size), 0);
    return size;
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

  // A block image for `vcn` holding `entries` as given (bytes in use as a
  // fresh block would count them, unless `inUse` is given).
  Bytes Craft(uint32_t vcn, const std::vector<Bytes>& entries, uint32_t inUse = 0) {
    Bytes block(B());
    BuildEmptyBlock(block.data(), B(), t_->bytesPerSector, vcn);
    uint32_t at = BlockEntriesStart(block.data());
    for (const Bytes& e : entries) {
      std::memcpy(block.data() + at, e.data(), e.size());
      at += static_cast<uint32_t>(e.size());
    }
    SetBlockBytesInUse(block.data(), inUse != 0 ? inUse : at);
    return block;
  }

  std::vector<Entry> RootEntries() {
    const Bytes root = Value(AT_INDEX_ROOT);
    return ParseEntries(root.data(), 0x20, static_cast<uint32_t>(root.size()));
  }

  bool BitSet(uint32_t block) {
    const Bytes bitmap = Value(AT_BITMAP);
    return block / 8 < bitmap.size() && ((bitmap[block / 8] >> (block % 8)) & 1);
  }

  // Walks the whole tree independently of the engine's readers and checks
  // the shape this engine keeps: the root holds only its end entry, each
  // block is reached once at the VCN in its header and holds names, the
  // bitmap marks exactly the reachable blocks and is ceil(blocks / 8) bytes
  // long, and the names come out in order (each sub-node's names before
  // its entry, an end entry's after the block's last name).
  std::vector<std::string> CheckTree() {
    std::vector<std::string> names;
    const std::vector<Entry> root = RootEntries();
    EXPECT_EQ(root.size(), 1u);
    EXPECT_EQ(Value(AT_INDEX_ROOT).size(), 0x38u);
    std::set<uint32_t> reached;
    const uint32_t per = B() / t_->clusterSize;
    std::function<void(uint32_t)> walk = [&](uint32_t vcn) {
      EXPECT_TRUE(reached.insert(vcn).second) << "block reached twice: " << vcn;
      if (HasFailure()) return;
      const Bytes block = Block(vcn);
      EXPECT_EQ(BlockVcn(block.data()), vcn);
      EXPECT_TRUE(BitSet(vcn / per)) << vcn;
      const std::vector<Entry> entries = BlockEntries(block);
      EXPECT_TRUE(Names(entries).size() > 0) << "block without names: " << vcn;
      for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.flags & 1) walk(e.subNode);
        if (!e.name.empty()) names.push_back(e.name);
      }
      EXPECT_EQ(entries.back().flags & 2, 2);
      EXPECT_TRUE(entries.back().name.empty());
    };
    if (!root.empty() && (root[0].flags & 1)) walk(root[0].subNode);
    const uint32_t blocks = Size(AT_INDEX_ALLOCATION) / B();
    EXPECT_EQ(Size(AT_BITMAP), (blocks + 7) / 8);
    for (uint32_t k = 0; k < blocks; ++k) {
      EXPECT_EQ(BitSet(k), reached.count(k * per) == 1) << "bit " << k;
    }
    for (size_t i = 1; i < names.size(); ++i) {
      EXPECT_LT(Order(names[i - 1], names[i]), 0) << names[i - 1] << " / " << names[i];
    }
    return names;
  }

  void ExpectEmptyRoot() {
    Bytes empty(0x38);
    BuildEmptyRoot(empty.data());
    EXPECT_EQ(Value(AT_INDEX_ROOT), empty);
  }

  Toolkit* t_ = nullptr;
};

std::string Numbered(const std::string& prefix, uint32_t i, size_t width) {
  std::string digits = std::to_string(i);
  return prefix + std::string(width - prefix.size() - digits.size(), '0') + digits;
}

// ---------------------------------------------------------------------------
// Entries and the empty root.

TEST_F(IndexUpdateTest, FirstInsertionGrowsTheAllocationAndLinksBlockZero) {
  Start();
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 0u);
  ASSERT_EQ(Insert("alpha", 16), 0);
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 128u * 4096);
  const Bytes bitmap = Value(AT_BITMAP);
  ASSERT_EQ(bitmap.size(), 16u);
  EXPECT_EQ(bitmap[0], 0x01);
  EXPECT_TRUE(std::all_of(bitmap.begin() + 1, bitmap.end(), [](uint8_t v) { return v == 0; }));
  const Bytes root = Value(AT_INDEX_ROOT);
  ASSERT_EQ(root.size(), 0x38u);
  EXPECT_EQ(root[0x20 + 0x0C], 0x03);
  EXPECT_EQ(GetLE32(root.data() + 0x30), 0u);
  const Bytes top = Block(0);
  EXPECT_EQ(BlockEntriesOffset(top.data()), 0x76u);
  EXPECT_EQ(BlockBytesInUse(top.data()), 0xA6u + NamedEntrySize(5));
  const auto entries = BlockEntries(top);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "alpha");
  EXPECT_EQ(entries[0].record, 16u);
  for (uint32_t vcn : {1u, 64u, 127u}) {  // the rest of the step: fresh empty nodes
    const Bytes fresh = Block(vcn);
    EXPECT_EQ(BlockVcn(fresh.data()), vcn);
    EXPECT_EQ(BlockEntries(fresh).size(), 1u);
  }
  uint32_t record = 0;
  ASSERT_EQ(Lookup("ALPHA", record), 0);
  EXPECT_EQ(record, 16u);
  EXPECT_EQ(List("/1"), (Listing{{"alpha", 16}}));
}

// Refused insertions and removals of missing names (a prefix of a stored
// name, a stored name and more) change nothing on disk.
TEST_F(IndexUpdateTest, RefusedNamesChangeNothing) {
  Start();
  ExpectEmptyRoot();
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

// A full top block splits in place: the names in front of the split entry
// go to one fresh block, those behind it to another, and the top block
// keeps the split entry and its end entry, leading to the two. Names added
// at the end leave the first block full and start the second.
TEST_F(IndexUpdateTest, AscendingInsertionsKeepTheFirstHalfFull) {
  Start();
  for (uint32_t i = 1; i <= 35; ++i) ASSERT_EQ(Insert(Numbered("name", i, 10), 100 + i), 0);
  Bytes top = Block(0);
  EXPECT_EQ(BlockEntries(top).size(), 36u);
  EXPECT_EQ(Room(top.data()), 3906u - 35 * 110);
  EXPECT_EQ(Value(AT_BITMAP)[0], 0x01);

  ASSERT_EQ(Insert("name000036", 136), 0);
  top = Block(0);
  const auto kept = BlockEntries(top);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].name, "name000035");
  EXPECT_EQ(kept[0].flags, ie::kHasSubNode);
  EXPECT_EQ(kept[0].subNode, 1u);
  EXPECT_EQ(kept[1].flags, ie::kLast | ie::kHasSubNode);
  EXPECT_EQ(kept[1].subNode, 2u);
  const auto left = BlockEntries(Block(1));
  ASSERT_EQ(left.size(), 35u);
  for (uint32_t i = 1; i <= 34; ++i) {
    EXPECT_EQ(left[i - 1].name, Numbered("name", i, 10));
    EXPECT_EQ(left[i - 1].record, 100 + i);
    EXPECT_EQ(left[i - 1].flags, 0);
  }
  EXPECT_EQ(Names(BlockEntries(Block(2))), std::vector<std::string>{"name000036"});
  EXPECT_EQ(Value(AT_BITMAP)[0], 0x07);
  EXPECT_EQ(RootEntries()[0].subNode, 0u);  // the root still links the top block
  EXPECT_EQ(CheckTree().size(), 36u);
  EXPECT_EQ(List("/1").size(), 36u);
}

TEST_F(IndexUpdateTest, DescendingInsertionsKeepTheSecondHalfFull) {
  Start();
  for (uint32_t i = 36; i >= 2; --i) ASSERT_EQ(Insert(Numbered("name", i, 10), 100 + i), 0);
  ASSERT_EQ(Insert("name000001", 101), 0);
  const auto top = BlockEntries(Block(0));
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].name, "name000002");
  EXPECT_EQ(top[0].subNode, 1u);
  EXPECT_EQ(top[1].subNode, 2u);
  const auto added = BlockEntries(Block(1));
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(added[0].name, "name000001");
  EXPECT_EQ(added[0].flags, 0);
  EXPECT_EQ(added[0].record, 101u);
  EXPECT_EQ(Names(BlockEntries(Block(2))).size(), 34u);
  const auto names = CheckTree();
  ASSERT_EQ(names.size(), 36u);
  EXPECT_EQ(names.front(), "name000001");
  EXPECT_EQ(Enumerate().front(), (std::pair<std::string, uint32_t>{"name000001", 101}));
}

TEST_F(IndexUpdateTest, AMiddleInsertionHalvesTheBlock) {
  Start();
  for (uint32_t i = 1; i <= 35; ++i) ASSERT_EQ(Insert(Numbered("n", 2 * i, 10), 16 + i), 0);
  const std::string middle = Numbered("n", 21, 10);  // sorts after the first ten
  ASSERT_EQ(Insert(middle, 99), 0);
  const auto top = BlockEntries(Block(0));
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].name, Numbered("n", 36, 10));
  const auto left = Names(BlockEntries(Block(1)));
  ASSERT_EQ(left.size(), 18u);
  EXPECT_EQ(left.front(), Numbered("n", 2, 10));
  EXPECT_EQ(left[10], middle);
  EXPECT_EQ(left.back(), Numbered("n", 34, 10));
  EXPECT_EQ(Names(BlockEntries(Block(2))).size(), 17u);
  EXPECT_EQ(CheckTree().size(), 36u);
}

// Thousands of names added in order: blocks below the top stay full, and
// the tree grows in height only when the top block splits.
TEST_F(IndexUpdateTest, NamesAddedInOrderMakeAShallowTree) {
  Start("--size 32M");
  for (uint32_t i = 1; i <= 3000; ++i) ASSERT_EQ(Insert(Numbered("name", i, 10), 16 + i), 0);
  EXPECT_EQ(CheckTree().size(), 3000u);
  uint32_t depth = 0;
  for (uint32_t vcn = RootEntries()[0].subNode;; ++depth) {
    const auto entries = BlockEntries(Block(vcn));
    if ((entries.back().flags & ie::kHasSubNode) == 0) break;
    vcn = entries.back().subNode;
  }
  EXPECT_EQ(depth, 2u);  // the top block, one level of full blocks, and their names
  EXPECT_LE(Size(AT_INDEX_ALLOCATION) / B(), 128u);
}

TEST_F(IndexUpdateTest, RandomOrdersOfThousandsOfNamesStaySorted) {
  Start("--size 32M");
  std::mt19937 random(1234);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.";
  std::map<std::string, std::pair<std::string, uint32_t>> byFolded;
  while (byFolded.size() < 3000) {
    std::string name(1 + random() % 28, ' ');
    for (char& c : name) c = alphabet[random() % alphabet.size()];
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    byFolded.emplace(folded, std::make_pair(name, 16 + static_cast<uint32_t>(byFolded.size())));
  }
  std::vector<std::pair<std::string, uint32_t>> names;
  for (const auto& entry : byFolded) names.push_back(entry.second);
  std::shuffle(names.begin(), names.end(), random);
  for (const auto& [name, record] : names) ASSERT_EQ(Insert(name, record), 0) << name;
  for (size_t i = 0; i < names.size(); i += 7) {
    EXPECT_EQ(Insert(names[i].first, 1), kErrAlreadyExists);
  }

  Listing expected = names;
  std::sort(expected.begin(), expected.end(),
            [](const auto& a, const auto& b) { return Order(a.first, b.first) < 0; });
  EXPECT_EQ(CheckTree().size(), expected.size());
  EXPECT_EQ(Enumerate(), expected);
  EXPECT_EQ(List("/1"), expected);
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
  Listing rest(names.begin() + static_cast<std::ptrdiff_t>(half), names.end());
  std::sort(rest.begin(), rest.end(),
            [](const auto& a, const auto& b) { return Order(a.first, b.first) < 0; });
  EXPECT_EQ(CheckTree().size(), rest.size());
  EXPECT_EQ(Enumerate(), rest);
  for (size_t i = 0; i < half; ++i) EXPECT_EQ(Remove(names[i].first), kErrPathNotFound);

  for (size_t i = half; i < names.size(); ++i) ASSERT_EQ(Remove(names[i].first), 0);
  ExpectEmptyRoot();
  const Bytes bitmap = Value(AT_BITMAP);
  EXPECT_TRUE(std::all_of(bitmap.begin(), bitmap.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(Enumerate().empty());
}

TEST_F(IndexUpdateTest, DescendingThousandsDeepenTheTreeWithoutLosingOrder) {
  Start("--size 32M");
  std::vector<std::string> names;
  for (uint32_t i = 1500; i >= 1; --i) {
    names.push_back(Numbered("d", i, 10));
    ASSERT_EQ(Insert(names.back(), 16 + i), 0);
  }
  std::reverse(names.begin(), names.end());
  EXPECT_EQ(CheckTree(), names);
  for (uint32_t i = 1; i <= 1500; i += 2) ASSERT_EQ(Remove(Numbered("d", i, 10)), 0);
  std::vector<std::string> rest;
  for (uint32_t i = 2; i <= 1500; i += 2) rest.push_back(Numbered("d", i, 10));
  EXPECT_EQ(CheckTree(), rest);
}

// ---------------------------------------------------------------------------
// Removal.

TEST_F(IndexUpdateTest, RemovingTheLastNameOfABlockRelinksItsParent) {
  Start();
  for (uint32_t i = 1; i <= 36; ++i) ASSERT_EQ(Insert(Numbered("name", i, 10), 100 + i), 0);
  // Block 0: [name000035 -> 1, end -> 2]; block 1: the first 34 names;
  // block 2: name000036.
  uint32_t record = 0;
  ASSERT_EQ(Remove("NAME000036", record), 0);
  EXPECT_EQ(record, 136u);
  EXPECT_FALSE(BitSet(2));
  EXPECT_EQ(BlockEntries(Block(0)).back().flags, ie::kLast);  // the end entry lost its link
  // The freed block keeps its last content: an empty node.
  const auto freed = BlockEntries(Block(2));
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0].flags, ie::kLast);
  EXPECT_EQ(CheckTree().size(), 35u);

  // The top block's last name goes: its sub-tree passes to the end entry,
  // the top block holds no name and the root takes its link over.
  ASSERT_EQ(Remove("name000035", record), 0);
  EXPECT_EQ(record, 135u);
  EXPECT_FALSE(BitSet(0));
  EXPECT_TRUE(BitSet(1));
  const auto root = RootEntries();
  EXPECT_EQ(root[0].flags, ie::kLast | ie::kHasSubNode);
  EXPECT_EQ(root[0].subNode, 1u);
  EXPECT_EQ(CheckTree().size(), 34u);
  ASSERT_EQ(Insert("name000035", 135), 0);
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 128u * 4096);
}

TEST_F(IndexUpdateTest, RemovingTheOnlyNameOfAChildClearsTheParentLink) {
  Start();
  for (uint32_t i = 36; i >= 1; --i) ASSERT_EQ(Insert(Numbered("name", i, 10), 100 + i), 0);
  // Block 0: [name000002 -> 1, ...]; block 1: [name000001].
  ASSERT_EQ(Remove("name000001"), 0);
  EXPECT_FALSE(BitSet(1));
  const auto top = BlockEntries(Block(0));
  EXPECT_EQ(top[0].name, "name000002");
  EXPECT_EQ(top[0].flags, 0);
  EXPECT_EQ(top[0].subNode, 0u);
  const Bytes block = Block(0);
  const uint32_t first = BlockEntriesStart(block.data());
  EXPECT_EQ(GetLE64(block.data() + first + NamedEntrySize(10) - 8), 0u);
  EXPECT_EQ(CheckTree().size(), 35u);
}

TEST_F(IndexUpdateTest, RemovingAnEntryWithASubNodeHandsItToTheNextEntry) {
  Start();
  for (uint32_t i = 36; i >= 1; --i) ASSERT_EQ(Insert(Numbered("name", i, 10), 100 + i), 0);
  uint32_t record = 0;
  ASSERT_EQ(Remove("name000002", record), 0);
  EXPECT_EQ(record, 102u);
  const auto top = BlockEntries(Block(0));
  EXPECT_EQ(top[0].name, "name000003");
  EXPECT_EQ(top[0].flags, ie::kHasSubNode);
  EXPECT_EQ(top[0].subNode, 1u);
  const auto names = CheckTree();
  EXPECT_EQ(names.size(), 35u);
  EXPECT_EQ(names.front(), "name000001");
}

TEST_F(IndexUpdateTest, RemovingEveryNameReturnsTheRootToItsEmptyState) {
  Start();
  for (uint32_t i = 1; i <= 80; ++i) {
    ASSERT_EQ(Insert(Numbered("r", (i * 37) % 101, 10), i + 16), 0);
  }
  EXPECT_EQ(CheckTree().size(), 80u);
  for (uint32_t i = 80; i >= 1; --i) ASSERT_EQ(Remove(Numbered("r", (i * 37) % 101, 10)), 0);
  ExpectEmptyRoot();
  ASSERT_EQ(IndexRootInit(t_, Dir()), 0);
  ExpectEmptyRoot();
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 128u * 4096);  // the allocation never shrinks
  const Bytes bitmap = Value(AT_BITMAP);
  EXPECT_TRUE(std::all_of(bitmap.begin(), bitmap.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(List("/1").size(), 0u);
  ASSERT_EQ(Insert("again", 16), 0);  // and the directory works as a fresh one
  EXPECT_EQ(RootEntries()[0].subNode, 0u);
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 128u * 4096);
}

// ---------------------------------------------------------------------------
// Nodes this engine never writes, and refusals.

// An entry whose sub-tree and whose neighbour's sub-tree would meet takes
// the place of its successor, the leftmost name of the neighbour's
// sub-tree, and that name leaves its own block.
TEST_F(IndexUpdateTest, NeighbouringSubNodesAreKeptApartByTheSuccessor) {
  Start();
  for (uint32_t i = 1; i <= 36; ++i) ASSERT_EQ(Insert(Numbered("name", i, 10), 100 + i), 0);
  // Block 0: [name000035 -> 1, end -> 2]; block 2: [name000036].
  uint32_t record = 0;
  ASSERT_EQ(Remove("name000035", record), 0);
  EXPECT_EQ(record, 135u);
  const auto top = BlockEntries(Block(0));
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].name, "name000036");
  EXPECT_EQ(top[0].record, 136u);
  EXPECT_EQ(top[0].subNode, 1u);
  EXPECT_EQ(top[1].flags, ie::kLast);  // block 2 lost its only name and its link
  EXPECT_FALSE(BitSet(2));
  EXPECT_EQ(Lookup("name000035", record), kErrPathNotFound);
  ASSERT_EQ(Lookup("name000036", record), 0);
  EXPECT_EQ(record, 136u);
  EXPECT_EQ(CheckTree().size(), 35u);
}

TEST_F(IndexUpdateTest, NamedLastEntriesTakeInsertionsBehindThemAndRemovals) {
  Start();
  ASSERT_EQ(Insert("first", 16), 0);
  Bytes top = Craft(0, {NamedEntry("kilo", 20), NamedEntry("mike", 21, ie::kLast)});
  PutBlock(top, 0);
  ASSERT_EQ(Insert("zulu", 22), 0);  // sorts after the named last entry
  auto entries = BlockEntries(Block(0));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].name, "mike");
  EXPECT_EQ(entries[1].flags, 0);
  EXPECT_EQ(entries[2].name, "zulu");
  EXPECT_EQ(entries[2].flags, ie::kLast);
  ASSERT_EQ(Insert("lima", 23), 0);
  EXPECT_EQ(Names(BlockEntries(Block(0))),
            (std::vector<std::string>{"kilo", "lima", "mike", "zulu"}));

  // Removing a named last entry puts an end entry behind it first.
  uint32_t record = 0;
  ASSERT_EQ(Remove("zulu", record), 0);
  EXPECT_EQ(record, 22u);
  entries = BlockEntries(Block(0));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[2].name, "mike");
  EXPECT_EQ(entries[3].name, "");
  EXPECT_EQ(entries[3].flags, ie::kLast);
  EXPECT_EQ(CheckTree().size(), 3u);
}

TEST_F(IndexUpdateTest, ANamedLastEntryWithoutRoomForAnEndEntryStays) {
  Start();
  ASSERT_EQ(Insert("first", 16), 0);
  const uint32_t allocated = B() - 0x18;
  Bytes top = Craft(0, {NamedEntry("kilo", 20), NamedEntry("mike", 21, ie::kLast)},
                    allocated - 0x10);
  PutBlock(top, 0);
  const Bytes before = test::ReadFileBytes(image_);
  EXPECT_EQ(Remove("mike"), kErrRemoveNoRoom);
  EXPECT_EQ(Insert("zulu", 22), kErrBlockAppendNoRoom);
  EXPECT_EQ(test::ReadFileBytes(image_), before);
  uint32_t record = 0;
  ASSERT_EQ(Remove("kilo", record), 0);  // no end entry needed for this one
  EXPECT_EQ(record, 20u);
  EXPECT_EQ(Names(BlockEntries(Block(0))), (std::vector<std::string>{"mike"}));
}

TEST_F(IndexUpdateTest, RootEntriesAreRemovedOnlyWhenThatIsSound) {
  Start();
  ASSERT_EQ(Insert("zebra", 30), 0);
  // A root holding "mango" itself, in front of its end entry -> block 0.
  Bytes root(0x20, 0);
  for (const Bytes& e : {NamedEntry("mango", 40), EndEntry(true, 0)}) {
    root.insert(root.end(), e.begin(), e.end());
  }
  uint32_t done = 0;
  ASSERT_EQ(AttributeTransfer(t_, AT_INDEX_ROOT, Dir(), root.data(),
                              static_cast<uint32_t>(root.size()), 0, done, kTransferWrite),
            0);
  ASSERT_EQ(WriteChain(t_, Dir()), 0);
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
  EXPECT_EQ(Value(AT_INDEX_ROOT).size(), 0x38u);
  EXPECT_EQ(Lookup("mango", record), kErrPathNotFound);
  EXPECT_EQ(CheckTree(), (std::vector<std::string>{"zebra", "zulu"}));

  // A root entry with a sub-node of its own cannot be taken out of the root.
  uint32_t vcn = 0;
  ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
  Bytes below = Craft(vcn, {NamedEntry("banana", 60), EndEntry()});
  PutBlock(below, vcn);
  root.assign(0x20, 0);
  for (const Bytes& e : {NamedEntry("mango", 40, 1, vcn), EndEntry(true, 0)}) {
    root.insert(root.end(), e.begin(), e.end());
  }
  ASSERT_EQ(AttributeTransfer(t_, AT_INDEX_ROOT, Dir(), root.data(),
                              static_cast<uint32_t>(root.size()), 0, done, kTransferWrite),
            0);
  ASSERT_EQ(WriteChain(t_, Dir()), 0);
  const Bytes again = test::ReadFileBytes(image_);
  EXPECT_EQ(Remove("mango"), kErrIndexRootNoSubNode);
  EXPECT_EQ(test::ReadFileBytes(image_), again);
  ASSERT_EQ(Lookup("mango", record), 0);
  ASSERT_EQ(Remove("banana", record), 0);  // names below root entries are found
  EXPECT_EQ(record, 60u);
  EXPECT_FALSE(BitSet(vcn));
}

// ---------------------------------------------------------------------------
// Damaged nodes: 114, no change, no crash.

TEST_F(IndexUpdateTest, DamagedBlocksAreRefusedWithoutChange) {
  Start();
  ASSERT_EQ(Insert("alpha", 16), 0);
  struct Damage {
    const char* what;
    std::function<Bytes()> make;
  };
  const std::vector<Damage> damages = {
      {"sub-node cycle", [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry(true, 0)}); }},
      {"zero entry length",
       [&] {
         Bytes b = Craft(0, {NamedEntry("alpha", 16), EndEntry()});
         PutLE16(b.data() + BlockEntriesStart(b.data()) + 8, 0);
         return b;
       }},
      {"entry beyond bytes in use",
       [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry()}, 0x90); }},
      {"bytes in use beyond the block",
       [&] { return Craft(0, {NamedEntry("alpha", 16), EndEntry()}, B()); }},
      {"name longer than its entry",
       [&] {
         Bytes b = Craft(0, {NamedEntry("alpha", 16), EndEntry()});
         b[BlockEntriesStart(b.data()) + 0x50] = 200;
         return b;
       }},
      {"header VCN elsewhere", [&] { return Craft(5, {NamedEntry("alpha", 16), EndEntry()}); }},
  };
  for (const Damage& damage : damages) {
    Bytes block = damage.make();
    PutBlock(block, 0);
    const Bytes before = test::ReadFileBytes(image_);
    EXPECT_EQ(Insert("zulu", 20), kErrBadStructure) << damage.what;
    EXPECT_EQ(Insert("beta", 21), kErrBadStructure) << damage.what;
    EXPECT_EQ(Remove("zulu"), kErrBadStructure) << damage.what;
    EXPECT_EQ(Remove("alpha"), kErrBadStructure) << damage.what;
    EXPECT_EQ(test::ReadFileBytes(image_), before) << damage.what;
  }
}

TEST_F(IndexUpdateTest, ABlockStillInUseIsNotTakenAsFresh) {
  Start();
  ASSERT_EQ(Insert("alpha", 16), 0);
  // Block 1's bit is clear but it holds a name: a split must not take it over.
  Bytes stale = Craft(1, {NamedEntry("stale", 99), EndEntry()});
  PutBlock(stale, 1);
  for (uint32_t i = 1; i <= 34; ++i) ASSERT_EQ(Insert(Numbered("name", i, 10), 16 + i), 0);
  EXPECT_EQ(Insert("name000035", 60), kErrBadStructure);
  uint32_t record = 0;
  EXPECT_EQ(Lookup("stale", record), kErrPathNotFound);
  EXPECT_EQ(Lookup("name000035", record), kErrPathNotFound);
}

// ---------------------------------------------------------------------------
// Block allocation.

TEST_F(IndexUpdateTest, AllocationTakesFreeBitsAndGrowsByOneStep) {
  Start();
  for (uint32_t k = 0; k < 128; ++k) {
    uint32_t vcn = 999;
    ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
    ASSERT_EQ(vcn, k);
  }
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 128u * 4096);
  uint32_t vcn = 0;
  ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
  EXPECT_EQ(vcn, 128u);
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 256u * 4096);
  const Bytes bitmap = Value(AT_BITMAP);
  ASSERT_EQ(bitmap.size(), 32u);
  EXPECT_EQ(bitmap[15], 0xFF);
  EXPECT_EQ(bitmap[16], 0x01);
  EXPECT_EQ(BlockVcn(Block(255).data()), 255u);

  ASSERT_EQ(IndexBlockFree(t_, Dir(), 77), 0);
  EXPECT_FALSE(BitSet(77));
  ASSERT_EQ(IndexBlockAllocate(t_, Dir(), vcn), 0);
  EXPECT_EQ(vcn, 77u);
  EXPECT_EQ(IndexBlockFree(t_, Dir(), 256), kErrBeyondAllocation);
}

TEST_F(IndexUpdateTest, LargerBlocksGrowByTheSameBytesAndCountVcnsInClusters) {
  Start("--size 16M --index-size 8192");
  ASSERT_EQ(B(), 8192u);
  for (uint32_t i = 1; i <= 80; ++i) ASSERT_EQ(Insert(Numbered("big", i, 10), 16 + i), 0);
  EXPECT_EQ(Size(AT_INDEX_ALLOCATION), 64u * 8192);
  EXPECT_EQ(Size(AT_BITMAP), 8u);
  EXPECT_EQ(RootEntries()[0].subNode, 0u);
  EXPECT_EQ(BlockEntries(Block(0))[0].subNode, 2u);  // block 1 is VCN 2
  EXPECT_EQ(CheckTree().size(), 80u);
}

TEST_F(IndexUpdateTest, SmallClustersMakeBlockVcnsCountClusters) {
  Start("--size 16M --cluster-size 1024");
  ASSERT_EQ(t_->clusterSize, 1024u);
  for (uint32_t i = 1; i <= 36; ++i) ASSERT_EQ(Insert(Numbered("name", i, 10), 16 + i), 0);
  EXPECT_EQ(BlockEntries(Block(0))[0].subNode, 4u);
  EXPECT_EQ(BlockVcn(Block(4).data()), 4u);
  for (uint32_t i = 1; i <= 36; ++i) ASSERT_EQ(Remove(Numbered("name", i, 10)), 0);
  ExpectEmptyRoot();
}

}  // namespace
}  // namespace vrax
