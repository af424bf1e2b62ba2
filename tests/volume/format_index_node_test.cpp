// Directory index nodes: the fresh root and INDX block, the header check,
// and the entry walk that must stop on damaged entries without over-reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "volume/format/bytes.h"
#include "volume/format/index_node.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

// A named entry as the engine lays it out: 2n + 0x5A bytes, name at 0x52 in
// UTF-16 with zero high bytes, sub-node field in the last 8 bytes.
Bytes NamedEntry(const std::string& name, uint32_t record, uint8_t flags = 0,
                 uint32_t subNode = 0) {
  Bytes e(NamedEntrySize(static_cast<uint32_t>(name.size())), 0);
  PutLE32(e.data() + ie::kReference, record);
  PutLE16(e.data() + ie::kLength, static_cast<uint16_t>(e.size()));
  e[ie::kFlags] = flags;
  e[ie::kNameLength] = static_cast<uint8_t>(name.size());
  e[ie::kNameSpace] = 3;
  for (size_t i = 0; i < name.size(); ++i) e[ie::kName + 2 * i] = static_cast<uint8_t>(name[i]);
  if (flags & ie::kHasSubNode) PutLE64(e.data() + e.size() - 8, subNode);
  return e;
}

Bytes EndEntry(bool hasSubNode = false, uint32_t vcn = 0) {
  Bytes e(ie::kEndEntrySize);
  WriteEndEntry(e.data(), hasSubNode, vcn);
  return e;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Walks a node that is exactly the given bytes (so an over-read shows under
// AddressSanitizer); gives the offsets of the entries yielded.
std::vector<uint32_t> Walk(Bytes node, bool& malformed) {
  IndexEntryWalk walk(node.data(), 0, static_cast<uint32_t>(node.size()));
  std::vector<uint32_t> offsets;
  while (walk.Next() != nullptr) offsets.push_back(walk.offset());
  malformed = walk.malformed();
  return offsets;
}

// The empty root is 0x38 bytes with one end entry; a fresh block's header
// figures are sound, and a header claiming more than the block, bytes in
// use beyond those allocated or entries outside the bytes in use is not.
TEST(FreshNodes, FiguresAreSoundAndDamagedHeadersRecognised) {
  Bytes root(ie::kNewRootSize, 0xEE);
  BuildEmptyRoot(root.data());
  EXPECT_EQ(Bytes(root.begin(), root.begin() + ie::kRootFirstEntry), Bytes(ie::kRootFirstEntry, 0));
  EXPECT_EQ(Bytes(root.begin() + ie::kRootFirstEntry, root.end()), EndEntry());

  const auto fresh = [] {
    Bytes block(4096);
    BuildEmptyBlock(block.data(), 4096, 512, 7);
    return block;
  };
  Bytes block = fresh();
  uint8_t* b = block.data();
  EXPECT_TRUE(HasIndexMagic(b));
  EXPECT_EQ(GetLE16(b + 0x04), 0x28);
  EXPECT_EQ(GetLE16(b + 0x06), 9);
  EXPECT_EQ(BlockVcn(b), 7u);
  EXPECT_EQ(BlockEntriesOffset(b), 0x76u);
  EXPECT_EQ(BlockBytesInUse(b), 0xA6u);
  EXPECT_EQ(BlockBytesAllocated(b), 0xFE8u);
  EXPECT_TRUE(BlockHeaderIsSound(b, 4096));
  EXPECT_FALSE(BlockHeaderIsSound(b, 2048));
  EXPECT_FALSE(BlockHeaderIsSound(b, 0x20));
  IndexEntryWalk walk(b, BlockEntriesStart(b), BlockEntriesEnd(b));
  EXPECT_EQ(walk.Next(), b + 0x8E);
  EXPECT_EQ(EntryFlags(b + 0x8E), 0x02);
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_FALSE(walk.malformed());

  const std::pair<uint32_t, uint32_t> damages[] = {
      {indx::kBytesAllocated, 4096 - 0x18 + 1},  // beyond the block
      {indx::kBytesInUse, 0xFE9},                // beyond bytes allocated
      {indx::kEntriesOffset, 0xA6},              // at bytes in use
      {indx::kEntriesOffset, 0x08},              // inside the header
  };
  for (const auto& [field, value] : damages) {
    Bytes damaged = fresh();
    PutLE32(damaged.data() + field, value);
    EXPECT_FALSE(BlockHeaderIsSound(damaged.data(), 4096)) << field << " " << value;
  }
}

TEST(IndexEntryWalk, YieldsEntriesInOrderThroughTheLastEntry) {
  const Bytes a = NamedEntry("abc", 40);
  const Bytes b = NamedEntry("abd", 41, ie::kHasSubNode, 3);
  bool malformed = true;
  const auto offsets = Walk(Concat({a, b, EndEntry(), Bytes(8, 0xEE)}), malformed);
  EXPECT_FALSE(malformed);
  const uint32_t second = static_cast<uint32_t>(a.size());
  const uint32_t third = second + static_cast<uint32_t>(b.size());
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, second, third}));
  EXPECT_EQ(Walk(NamedEntry("x", 40, ie::kLast), malformed).size(), 1u);  // a named last entry
  EXPECT_FALSE(malformed);
}

// Each damaged node is walked up to the damage and reported malformed.
TEST(IndexEntryWalk, DamagedEntriesAreMalformed) {
  const Bytes abc = NamedEntry("abc", 40);
  Bytes zero = EndEntry();
  PutLE16(zero.data() + ie::kLength, 0);
  Bytes pastEnd = EndEntry();
  PutLE16(pastEnd.data() + ie::kLength, 0x19);
  Bytes longName = NamedEntry("a", 40, ie::kLast);
  longName[ie::kNameLength] = 50;
  // Longer than an end entry, so it claims a key, but it ends before the
  // name length byte at 0x50.
  Bytes noNameField = EndEntry();
  PutLE16(noNameField.data() + ie::kLength, 0x20);
  noNameField.resize(0x20, 0);
  Bytes crowded = NamedEntry("ab", 40, ie::kLast | ie::kHasSubNode, 1);
  crowded[ie::kNameLength] = 6;  // 0x52 + 12 + 8 > 0x5E
  Bytes shortSubNode = EndEntry(true, 5);
  PutLE16(shortSubNode.data() + ie::kLength, 0x10);
  const std::pair<Bytes, size_t> cases[] = {
      {Concat({abc, zero}), 1},
      {pastEnd, 0},
      {Concat({abc, NamedEntry("abd", 41)}), 2},  // no last entry
      {Concat({abc, Bytes(0x0F, 0)}), 1},         // ends in a partial entry
      {longName, 0},
      {noNameField, 0},
      {crowded, 0},
      {shortSubNode, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    bool malformed = false;
    EXPECT_EQ(Walk(cases[i].first, malformed).size(), cases[i].second) << i;
    EXPECT_TRUE(malformed) << i;
  }
  Bytes node = EndEntry();
  IndexEntryWalk walk(node.data(), 0x20, 0x18);  // start beyond the end
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_TRUE(walk.malformed());
}

}  // namespace
}  // namespace vrax
