// Damaged directory indexes: INDX blocks with broken headers, entries and
// sub-node links, and index roots without a proper end. Each makes listing
// and looking up through the damaged node fail with 114, without a crash, a
// hang or a read outside a buffer.
//
// The index damaged is the sample volume's /1/tree, three levels of blocks:
// the top block, its children ("middle" blocks) and their children (leaves),
// every entry with a sub-node except in the leaves. The first middle block
// hangs below the top block's first entry, the first leaf below that
// block's first entry, so the smallest name is reached through both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/image_builder.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"

namespace vrax {
namespace {

using test::IndexBlockInfo;
using test::SampleVolumeTest;

class IndexDamageTest : public SampleVolumeTest {
 protected:
  const test::BuiltIndex& Tree() { return sample().treeIndex; }

  const IndexBlockInfo& FirstChildOf(uint32_t vcn) {
    for (const IndexBlockInfo& block : Tree().blocks) {
      if (block.parentVcn == vcn) return block;
    }
    ADD_FAILURE() << "no child of " << vcn;
    return Tree().blocks[0];
  }
  const IndexBlockInfo& Middle() { return FirstChildOf(Tree().topVcn); }
  const IndexBlockInfo& Leaf() { return FirstChildOf(Middle().vcn); }

  // The entry at `index` of a block image in memory.
  static uint8_t* EntryOf(uint8_t* block, uint32_t index) {
    uint8_t* e = block + BlockEntriesStart(block);
    for (uint32_t i = 0; i < index; ++i) e += EntryLength(e);
    return e;
  }
  static uint8_t* EndEntryOf(uint8_t* block, uint32_t names) { return EntryOf(block, names); }

  // Edits block `vcn`, mounts the copy and expects listing /1/tree and
  // looking up `through` (a name reached through the damage) to give 114.
  void ExpectDamageFound(uint32_t vcn, const std::string& through,
                         const std::function<void(uint8_t*)>& edit) {
    builder().PatchIndexBlock(Tree(), vcn, edit);
    MountCopy();
    EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
    EXPECT_EQ(LookupResult("/1/tree", through), kErrBadStructure);
    EXPECT_EQ(ReadResult("/1/tree/" + through), kErrBadStructure);
    EXPECT_NE(ReadAllResult(), 0);
  }

  std::string Smallest() { return Tree().order[0].name; }
};

// ---------------------------------------------------------------------------

class DamageIndexBlock : public IndexDamageTest {};

TEST_F(DamageIndexBlock, BadMagic) {
  ExpectDamageFound(Leaf().vcn, Leaf().names[0], [](uint8_t* b) { b[0] = 'J'; });
}

TEST_F(DamageIndexBlock, EntriesOffsetPastTheBlock) {
  const uint32_t B = geometry().indexBlockSize;
  ExpectDamageFound(Middle().vcn, Smallest(),
                    [B](uint8_t* b) { PutLE32(b + indx::kEntriesOffset, B); });
}

TEST_F(DamageIndexBlock, BytesInUsePastTheBlock) {
  const uint32_t B = geometry().indexBlockSize;
  ExpectDamageFound(Middle().vcn, Smallest(),
                    [B](uint8_t* b) { PutLE32(b + indx::kBytesInUse, B); });
}

TEST_F(DamageIndexBlock, BytesAllocatedPastTheBlock) {
  const uint32_t B = geometry().indexBlockSize;
  ExpectDamageFound(Leaf().vcn, Leaf().names[1],
                    [B](uint8_t* b) { PutLE32(b + indx::kBytesAllocated, B); });
}

TEST_F(DamageIndexBlock, EntryLengthZero) {
  ExpectDamageFound(Leaf().vcn, Leaf().names[1],
                    [](uint8_t* b) { PutLE16(EntryOf(b, 0) + ie::kLength, 0); });
}

TEST_F(DamageIndexBlock, EntryLengthRunningPastBytesInUse) {
  ExpectDamageFound(Leaf().vcn, Leaf().names[1],
                    [](uint8_t* b) { PutLE16(EntryOf(b, 0) + ie::kLength, 0x0F00); });
}

TEST_F(DamageIndexBlock, NameLengthBeyondTheEntry) {
  ExpectDamageFound(Leaf().vcn, Leaf().names[0],
                    [](uint8_t* b) { EntryOf(b, 0)[ie::kNameLength] = 0xFF; });
}

TEST_F(DamageIndexBlock, EndEntryWithoutItsLastFlag) {
  const uint32_t names = static_cast<uint32_t>(Leaf().names.size());
  ExpectDamageFound(Leaf().vcn, Leaf().names.back() + "~",
                    [names](uint8_t* b) { EndEntryOf(b, names)[ie::kFlags] = 0; });
}

TEST_F(DamageIndexBlock, SubNodePointingAtItsOwnBlock) {
  const uint32_t self = Middle().vcn;
  ExpectDamageFound(self, Smallest(), [self](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), self); });
}

TEST_F(DamageIndexBlock, SubNodePointingAtAnAncestor) {
  const uint32_t top = Tree().topVcn;
  const std::string beforeAll = Smallest().substr(0, Smallest().size() - 1);  // steered below it
  ExpectDamageFound(Leaf().vcn, beforeAll, [top](uint8_t* b) {
    uint8_t* e = EntryOf(b, 0);
    e[ie::kFlags] |= ie::kHasSubNode;  // the sub-node field is always reserved
    SetEntrySubNode(e, top);
  });
}

TEST_F(DamageIndexBlock, SubNodeBeyondTheAllocation) {
  ExpectDamageFound(Middle().vcn, Smallest(),
                    [](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), 0x10000); });
}

TEST_F(DamageIndexBlock, SubNodeVcnAtTheTopOfItsRange) {
  ExpectDamageFound(Middle().vcn, Smallest(),
                    [](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), 0xFFFFFFFFu); });
}

// Damage in one branch leaves lookups through the other branches working.
TEST_F(DamageIndexBlock, OtherBranchesStillResolve) {
  builder().PatchIndexBlock(Tree(), Leaf().vcn, [](uint8_t* b) { b[0] = 'J'; });
  MountCopy();
  EXPECT_EQ(LookupResult("/1/tree", Tree().order.back().name), 0);
  EXPECT_EQ(ReadResult("/1/tree/" + Tree().order.back().name), 0);
  EXPECT_EQ(ReadResult("/1/README"), 0);
}

// ---------------------------------------------------------------------------
// The root value of /1/tree: 0x20 bytes of header, then the end entry at
// 0x20 pointing at the top block.

class DamageIndexRoot : public IndexDamageTest {
 protected:
  void EditRoot(const std::function<void(uint8_t* attribute)>& edit) {
    builder().PatchRecord(sample().tree, [&](uint8_t* r) { edit(Attribute(r, AT_INDEX_ROOT)); });
    MountCopy();
  }
  static uint8_t* RootEntry(uint8_t* attribute) {
    return AttrValue(attribute) + ie::kRootFirstEntry;
  }
};

TEST_F(DamageIndexRoot, WithoutALastEntry) {
  EditRoot([](uint8_t* a) { RootEntry(a)[ie::kFlags] = ie::kHasSubNode; });
  EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
  EXPECT_EQ(LookupResult("/1/tree", "absent"), kErrBadStructure);
}

TEST_F(DamageIndexRoot, EntryLengthZero) {
  EditRoot([](uint8_t* a) { PutLE16(RootEntry(a) + ie::kLength, 0); });
  EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
  EXPECT_EQ(LookupResult("/1/tree", Smallest()), kErrBadStructure);
}

TEST_F(DamageIndexRoot, EntryRunningPastTheValue) {
  EditRoot([](uint8_t* a) { PutLE16(RootEntry(a) + ie::kLength, 0x80); });
  EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
  EXPECT_EQ(LookupResult("/1/tree", Smallest()), kErrBadStructure);
}

TEST_F(DamageIndexRoot, ValueShorterThanItsFirstEntry) {
  EditRoot([](uint8_t* a) { SetAttrValueLength(a, 0x10); });
  EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
  EXPECT_EQ(LookupResult("/1/tree", Smallest()), kErrBadStructure);
}

TEST_F(DamageIndexRoot, SubNodeBeyondTheAllocation) {
  EditRoot([](uint8_t* a) { SetEntrySubNode(RootEntry(a), 0x4000); });
  EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
  EXPECT_EQ(LookupResult("/1/tree", Smallest()), kErrBadStructure);
}

TEST_F(DamageIndexRoot, SubNodeWithoutAnAllocation) {
  builder().PatchRecord(sample().tree, [this](uint8_t* r) {
    PutLE32(Attribute(r, AT_INDEX_ALLOCATION), AT_EA);  // the allocation is gone
  });
  MountCopy();
  EXPECT_NE(ReadResult("/1/tree"), 0);
  EXPECT_NE(LookupResult("/1/tree", Smallest()), 0);
}

}  // namespace
}  // namespace vrax
