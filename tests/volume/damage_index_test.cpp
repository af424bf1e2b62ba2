#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/sample_volume.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"

namespace vrax {
namespace {

using test::IndexBlockInfo;
using test::SampleVolumeTest;

using Damage = std::function<void(test::ImageBuilder&)>;

class DamageIndex : public SampleVolumeTest {
 protected:
  const test::BuiltIndex& Tree() { return sample().treeIndex; }

  // Blocks are numbered children first: block 3 is the middle above leaf 0.
  const IndexBlockInfo& Middle() { return Tree().blocks[3]; }
  const IndexBlockInfo& Leaf() { return Tree().blocks[0]; }

  static uint8_t* EntryOf(uint8_t* block, uint32_t index) {
    uint8_t* e = block + BlockEntriesStart(block);
    for (uint32_t i = 0; i < index; ++i) e += EntryLength(e);
    return e;
  }
  Damage Block(uint32_t vcn, std::function<void(uint8_t*)> edit) {
    return [this, vcn, edit](test::ImageBuilder& b) { b.PatchIndexBlock(Tree(), vcn, edit); };
  }
  Damage Root(std::function<void(uint8_t* attribute, uint8_t* entry)> edit) {
    return [this, edit](test::ImageBuilder& b) {
      b.PatchRecord(sample().tree, [&](uint8_t* r) {
        uint8_t* a = Attribute(r, AT_INDEX_ROOT);
        edit(a, AttrValue(a) + ie::kRootFirstEntry);
      });
    };
  }
};

// Listing /1/tree, looking up and opening `through` (reached through the
// damage) fail with 114, and so does some read of the volume.
TEST_F(DamageIndex, EachKindOfDamageIsFound) {
  struct Case {
    const char* what;
    std::string through;
    Damage damage;
  };
  const uint32_t B = geometry().indexBlockSize;
  const uint32_t middle = Middle().vcn;
  const IndexBlockInfo leaf = Leaf();
  const uint32_t names = static_cast<uint32_t>(leaf.names.size());
  const std::string smallest = Tree().order[0].name;
  // One of each (every check: format_index_node_test.cpp).
  const Case cases[] = {
      {"bad magic", leaf.names[0], Block(leaf.vcn, [](uint8_t* b) { b[0] = 'J'; })},
      {"entries offset past the block", smallest,
       Block(middle, [B](uint8_t* b) { PutLE32(b + indx::kEntriesOffset, B); })},
      {"entry length zero", leaf.names[1],
       Block(leaf.vcn, [](uint8_t* b) { PutLE16(EntryOf(b, 0) + ie::kLength, 0); })},
      {"end entry without its last flag", leaf.names.back() + "~",
       Block(leaf.vcn, [names](uint8_t* b) { EntryOf(b, names)[ie::kFlags] = 0; })},
      {"sub-node at its own block", smallest,
       Block(middle, [middle](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), middle); })},
      {"sub-node beyond the allocation", smallest,
       Block(middle, [](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), 0x10000); })},
      {"sub-node at the top of the VCN range", smallest,
       Block(middle, [](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), 0xFFFFFFFFu); })},
      // A name that is found never needs the root's missing last entry; an
      // absent one does.
      {"root without a last entry", "absent",
       Root([](uint8_t*, uint8_t* e) { e[ie::kFlags] = ie::kHasSubNode; })},
      {"root value shorter than its entry", smallest,
       Root([](uint8_t* a, uint8_t*) { SetAttrValueLength(a, 0x10); })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreshCopy();
    c.damage(builder());
    MountCopy();
    EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
    EXPECT_EQ(LookupResult("/1/tree", c.through), kErrBadStructure);
    EXPECT_EQ(ReadResult("/1/tree/" + c.through), kErrBadStructure);
    EXPECT_NE(ReadAllResult(), 0);
  }
}

TEST_F(DamageIndex, OtherBranchesStillResolve) {
  builder().PatchIndexBlock(Tree(), Leaf().vcn, [](uint8_t* b) { b[0] = 'J'; });
  MountCopy();
  EXPECT_EQ(LookupResult("/1/tree", Tree().order.back().name), 0);
  EXPECT_EQ(ReadResult("/1/tree/" + Tree().order.back().name), 0);
  EXPECT_EQ(ReadResult("/1/README"), 0);
}

TEST_F(DamageIndex, SubNodeWithoutAnAllocation) {
  builder().PatchRecord(sample().tree, [this](uint8_t* r) {
    PutLE32(Attribute(r, AT_INDEX_ALLOCATION), AT_EA);  // the allocation is gone
  });
  MountCopy();
  EXPECT_NE(ReadResult("/1/tree"), 0);
  EXPECT_NE(LookupResult("/1/tree", Tree().order[0].name), 0);
}

}  // namespace
}  // namespace vrax
