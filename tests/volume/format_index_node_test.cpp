#include <gtest/gtest.h>

#include <tuple>

#include "helpers.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"

namespace vrax {
namespace {

using test::Bytes;
using test::EndEntry;
using test::NamedEntry;

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

// A fresh block's header figures are sound (its entries are walked where
// the engine allocates blocks), and a header claiming more than the block,
// bytes in use beyond those allocated or entries outside the bytes in use
// is not.
TEST(FreshNodes, FiguresAreSoundAndDamagedHeadersRecognised) {
  const auto fresh = [] {
    Bytes block(4096);
    BuildEmptyBlock(block.data(), 4096, 512, 7);
    return block;
  };
  Bytes block = fresh();
  uint8_t* b = block.data();
  EXPECT_TRUE(BlockHeaderIsSound(b, 4096));
  EXPECT_FALSE(BlockHeaderIsSound(b, 2048));
  EXPECT_FALSE(BlockHeaderIsSound(b, 0x20));

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

// A sound node is walked through its last entry (named or not), nothing
// behind it; a damaged one up to the damage, and reported malformed.
TEST(IndexEntryWalk, YieldsEntriesThroughTheLastAndStopsAtDamage) {
  const Bytes abc = NamedEntry("abc", 40);
  const Bytes abd = NamedEntry("abd", 41, ie::kHasSubNode, 3);
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
  const uint32_t second = static_cast<uint32_t>(abc.size());
  const std::tuple<Bytes, std::vector<uint32_t>, bool> cases[] = {
      {Concat({abc, abd, EndEntry(), Bytes(8, 0xEE)}), {0, second, 2 * second}, false},
      {NamedEntry("x", 40, ie::kLast), {0}, false},
      {Concat({abc, zero}), {0}, true},
      {pastEnd, {}, true},
      {Concat({abc, NamedEntry("abd", 41)}), {0, second}, true},  // no last entry
      {Concat({abc, Bytes(0x0F, 0)}), {0}, true},                 // ends in a partial entry
      {longName, {}, true},
      {noNameField, {}, true},
      {crowded, {}, true},
      {shortSubNode, {}, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    bool malformed = !std::get<2>(cases[i]);
    EXPECT_EQ(Walk(std::get<0>(cases[i]), malformed), std::get<1>(cases[i])) << i;
    EXPECT_EQ(malformed, std::get<2>(cases[i])) << i;
  }
  Bytes node = EndEntry();
  IndexEntryWalk walk(node.data(), 0x20, 0x18);  // start beyond the end
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_TRUE(walk.malformed());
}

}  // namespace
}  // namespace vrax
