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

TEST(IndexEntry, NamedEntrySizeIs2nPlus0x5A) {
  EXPECT_EQ(NamedEntrySize(1), 0x5Cu);
  EXPECT_EQ(NamedEntrySize(10), 110u);
  EXPECT_EQ(NamedEntrySize(28), 146u);
}

TEST(IndexEntry, EndEntryWithAndWithoutSubNode) {
  const Bytes plain = EndEntry();
  EXPECT_EQ(EntryLength(plain.data()), 0x18);
  EXPECT_EQ(EntryFlags(plain.data()), 0x02);
  EXPECT_EQ(EntryRecord(plain.data()), 0u);
  EXPECT_TRUE(EntryIsKeyless(plain.data()));
  const Bytes linked = EndEntry(true, 42);
  EXPECT_EQ(EntryFlags(linked.data()), 0x03);
  EXPECT_EQ(EntrySubNode(linked.data()), 42u);
  EXPECT_EQ(GetLE32(linked.data() + 0x14), 0u);
}

TEST(IndexEntry, NamedEntryAccessors) {
  const Bytes e = NamedEntry("Readme", 37, ie::kHasSubNode, 9);
  EXPECT_FALSE(EntryIsKeyless(e.data()));
  EXPECT_EQ(EntryNameLength(e.data()), 6);
  EXPECT_EQ(EntryNameChar(e.data(), 0), 'R');
  EXPECT_EQ(EntryNameChar(e.data(), 5), 'e');
  EXPECT_EQ(EntryRecord(e.data()), 37u);
  EXPECT_EQ(EntrySubNode(e.data()), 9u);
}

TEST(IndexRoot, EmptyRootIs0x38BytesWithOneEndEntry) {
  Bytes root(ie::kNewRootSize, 0xEE);
  BuildEmptyRoot(root.data());
  for (uint32_t i = 0; i < 0x20; ++i) EXPECT_EQ(root[i], 0) << "byte " << i;
  const uint8_t* end = root.data() + ie::kRootFirstEntry;
  EXPECT_EQ(EntryLength(end), 0x18);
  EXPECT_EQ(EntryFlags(end), 0x02);
  EXPECT_FALSE(EntryHasSubNode(end));
}

class FreshBlock : public ::testing::Test {
 protected:
  FreshBlock() : block_(4096) { BuildEmptyBlock(block_.data(), 4096, 512, 7); }
  Bytes block_;
};

TEST_F(FreshBlock, HeaderFiguresFor4096ByteBlocksAnd512ByteSectors) {
  const uint8_t* b = block_.data();
  EXPECT_TRUE(HasIndexMagic(b));
  EXPECT_EQ(GetLE16(b + 0x04), 0x28);
  EXPECT_EQ(GetLE16(b + 0x06), 9);
  EXPECT_EQ(BlockVcn(b), 7u);
  EXPECT_EQ(GetLE32(b + 0x14), 0u);
  EXPECT_EQ(BlockEntriesOffset(b), 0x76u);
  EXPECT_EQ(BlockEntriesStart(b), 0x8Eu);
  EXPECT_EQ(BlockBytesInUse(b), 0xA6u);
  EXPECT_EQ(BlockBytesAllocated(b), 0xFE8u);
  EXPECT_EQ(BlockBytesAllocated(b) - BlockBytesInUse(b), 3906u);
}

TEST_F(FreshBlock, RoomHolds35TenCharacterOr26TwentyEightCharacterNames) {
  const uint32_t room = BlockBytesAllocated(block_.data()) - BlockBytesInUse(block_.data());
  EXPECT_LE(35 * NamedEntrySize(10), room);
  EXPECT_GT(36 * NamedEntrySize(10), room);
  EXPECT_LE(26 * NamedEntrySize(28), room);
  EXPECT_GT(27 * NamedEntrySize(28), room);
}

TEST_F(FreshBlock, HoldsOnlyAnEndEntryAtTheFirstEntryPosition) {
  const uint8_t* end = block_.data() + 0x8E;
  EXPECT_EQ(EntryLength(end), 0x18);
  EXPECT_EQ(EntryFlags(end), 0x02);
  IndexEntryWalk walk(block_.data(), BlockEntriesStart(block_.data()),
                      BlockEntriesEnd(block_.data()));
  EXPECT_EQ(walk.Next(), end);
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_FALSE(walk.malformed());
}

TEST_F(FreshBlock, HeaderIsSound) {
  EXPECT_TRUE(BlockHeaderIsSound(block_.data(), 4096));
}

TEST_F(FreshBlock, HeaderWithBytesAllocatedBeyondTheBlockIsUnsound) {
  PutLE32(block_.data() + indx::kBytesAllocated, 4096 - 0x18 + 1);
  EXPECT_FALSE(BlockHeaderIsSound(block_.data(), 4096));
}

TEST_F(FreshBlock, HeaderWithBytesInUseBeyondBytesAllocatedIsUnsound) {
  PutLE32(block_.data() + indx::kBytesInUse, 0xFE9);
  EXPECT_FALSE(BlockHeaderIsSound(block_.data(), 4096));
}

TEST_F(FreshBlock, HeaderWithEntriesAtOrBeyondBytesInUseIsUnsound) {
  PutLE32(block_.data() + indx::kEntriesOffset, 0xA6);
  EXPECT_FALSE(BlockHeaderIsSound(block_.data(), 4096));
}

TEST_F(FreshBlock, HeaderWithEntriesInsideTheHeaderIsUnsound) {
  PutLE32(block_.data() + indx::kEntriesOffset, 0x08);
  EXPECT_FALSE(BlockHeaderIsSound(block_.data(), 4096));
}

TEST_F(FreshBlock, HeaderCheckedAgainstASmallerBufferIsUnsound) {
  EXPECT_FALSE(BlockHeaderIsSound(block_.data(), 2048));
  EXPECT_FALSE(BlockHeaderIsSound(block_.data(), 0x20));
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
}

TEST(IndexEntryWalk, StopsAtANamedLastEntry) {
  bool malformed = true;
  const auto offsets = Walk(NamedEntry("x", 40, ie::kLast), malformed);
  EXPECT_FALSE(malformed);
  EXPECT_EQ(offsets.size(), 1u);
}

TEST(IndexEntryWalk, EntryOfLengthZeroIsMalformed) {
  Bytes zero = EndEntry();
  PutLE16(zero.data() + ie::kLength, 0);
  bool malformed = false;
  const auto offsets = Walk(Concat({NamedEntry("abc", 40), zero}), malformed);
  EXPECT_TRUE(malformed);
  EXPECT_EQ(offsets.size(), 1u);
}

TEST(IndexEntryWalk, EntryRunningPastTheEndIsMalformed) {
  Bytes last = EndEntry();
  PutLE16(last.data() + ie::kLength, 0x19);
  bool malformed = false;
  EXPECT_TRUE(Walk(last, malformed).empty());
  EXPECT_TRUE(malformed);
}

TEST(IndexEntryWalk, NodeWithoutALastEntryIsMalformed) {
  bool malformed = false;
  const auto offsets = Walk(Concat({NamedEntry("abc", 40), NamedEntry("abd", 41)}), malformed);
  EXPECT_TRUE(malformed);
  EXPECT_EQ(offsets.size(), 2u);
}

TEST(IndexEntryWalk, NodeEndingInAPartialEntryIsMalformed) {
  bool malformed = false;
  const auto offsets = Walk(Concat({NamedEntry("abc", 40), Bytes(0x0F, 0)}), malformed);
  EXPECT_TRUE(malformed);
  EXPECT_EQ(offsets.size(), 1u);
}

TEST(IndexEntryWalk, NameLongerThanItsEntryIsMalformed) {
  Bytes e = NamedEntry("a", 40, ie::kLast);
  e[ie::kNameLength] = 50;
  bool malformed = false;
  EXPECT_TRUE(Walk(e, malformed).empty());
  EXPECT_TRUE(malformed);
}

TEST(IndexEntryWalk, EntryTooShortForItsNameLengthFieldIsMalformed) {
  // Longer than an end entry, so it claims a key, but it ends before the
  // name length byte at 0x50: that byte lies outside the node here.
  Bytes e = EndEntry();
  PutLE16(e.data() + ie::kLength, 0x20);
  e.resize(0x20, 0);
  bool malformed = false;
  EXPECT_TRUE(Walk(e, malformed).empty());
  EXPECT_TRUE(malformed);
}

TEST(IndexEntryWalk, NameCrowdingOutTheSubNodeFieldIsMalformed) {
  Bytes e = NamedEntry("ab", 40, ie::kLast | ie::kHasSubNode, 1);
  e[ie::kNameLength] = 6;  // 0x52 + 12 + 8 > 0x5E
  bool malformed = false;
  EXPECT_TRUE(Walk(e, malformed).empty());
  EXPECT_TRUE(malformed);
}

TEST(IndexEntryWalk, SubNodeEntryShorterThanAnEndEntryIsMalformed) {
  Bytes e = EndEntry(true, 5);
  PutLE16(e.data() + ie::kLength, 0x10);
  bool malformed = false;
  EXPECT_TRUE(Walk(e, malformed).empty());
  EXPECT_TRUE(malformed);
}

TEST(IndexEntryWalk, StartBeyondTheEndIsMalformed) {
  Bytes node = EndEntry();
  IndexEntryWalk walk(node.data(), 0x20, 0x18);
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_TRUE(walk.malformed());
}

}  // namespace
}  // namespace vrax
