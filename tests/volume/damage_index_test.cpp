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

TEST_F(DamageIndexBlock, EachKindOfDamageIsFound) {
  struct Case {
    const char* what;
    uint32_t vcn;
    std::string through;
    std::function<void(uint8_t*)> edit;
  };
  const uint32_t B = geometry().indexBlockSize;
  const uint32_t top = Tree().topVcn;
  const uint32_t middle = Middle().vcn;
  const IndexBlockInfo leaf = Leaf();
  const uint32_t names = static_cast<uint32_t>(leaf.names.size());
  const std::string smallest = Smallest();
  const Case cases[] = {
      {"bad magic", leaf.vcn, leaf.names[0], [](uint8_t* b) { b[0] = 'J'; }},
      {"entries offset past the block", middle, smallest,
       [B](uint8_t* b) { PutLE32(b + indx::kEntriesOffset, B); }},
      {"bytes in use past the block", middle, smallest,
       [B](uint8_t* b) { PutLE32(b + indx::kBytesInUse, B); }},
      {"entry length zero", leaf.vcn, leaf.names[1],
       [](uint8_t* b) { PutLE16(EntryOf(b, 0) + ie::kLength, 0); }},
      {"entry past bytes in use", leaf.vcn, leaf.names[1],
       [](uint8_t* b) { PutLE16(EntryOf(b, 0) + ie::kLength, 0x0F00); }},
      {"name length beyond the entry", leaf.vcn, leaf.names[0],
       [](uint8_t* b) { EntryOf(b, 0)[ie::kNameLength] = 0xFF; }},
      {"end entry without its last flag", leaf.vcn, leaf.names.back() + "~",
       [names](uint8_t* b) { EntryOf(b, names)[ie::kFlags] = 0; }},
      {"sub-node at its own block", middle, smallest,
       [middle](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), middle); }},
      // Steered below the smallest name; the sub-node field is always reserved.
      {"sub-node at an ancestor", leaf.vcn, smallest.substr(0, smallest.size() - 1),
       [top](uint8_t* b) {
         EntryOf(b, 0)[ie::kFlags] |= ie::kHasSubNode;
         SetEntrySubNode(EntryOf(b, 0), top);
       }},
      {"sub-node beyond the allocation", middle, smallest,
       [](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), 0x10000); }},
      {"sub-node at the top of the VCN range", middle, smallest,
       [](uint8_t* b) { SetEntrySubNode(EntryOf(b, 0), 0xFFFFFFFFu); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreshCopy();
    ExpectDamageFound(c.vcn, c.through, c.edit);
  }
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

TEST_F(DamageIndexRoot, EachKindOfDamageIsFound) {
  const std::pair<const char*, std::function<void(uint8_t*)>> cases[] = {
      {"without a last entry", [](uint8_t* a) { RootEntry(a)[ie::kFlags] = ie::kHasSubNode; }},
      {"entry length zero", [](uint8_t* a) { PutLE16(RootEntry(a) + ie::kLength, 0); }},
      {"entry past the value", [](uint8_t* a) { PutLE16(RootEntry(a) + ie::kLength, 0x80); }},
      {"value shorter than its entry", [](uint8_t* a) { SetAttrValueLength(a, 0x10); }},
      {"sub-node beyond the allocation", [](uint8_t* a) { SetEntrySubNode(RootEntry(a), 0x4000); }},
  };
  for (const auto& [what, edit] : cases) {
    SCOPED_TRACE(what);
    FreshCopy();
    EditRoot(edit);
    EXPECT_EQ(ReadResult("/1/tree"), kErrBadStructure);
    // A name that is found never needs the missing last entry; an absent one does.
    const bool noLast = std::string(what) == "without a last entry";
    EXPECT_EQ(LookupResult("/1/tree", noLast ? "absent" : Smallest()), kErrBadStructure);
  }
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
