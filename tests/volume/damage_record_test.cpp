#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mkfs/node_records.h"
#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "support/sample_volume.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/record_edit.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {
namespace {

using test::SampleVolume;
using test::SampleVolumeTest;

using DamageTruncated = SampleVolumeTest;

TEST_F(DamageTruncated, EveryCutFailsSomeRead) {
  const SampleVolume& v = sample();
  const uint64_t cuts[] = {
      1536,
      builder().RecordOffset(0) + geometry().recordSize / 2,
      builder().ClusterOffset(v.multiRuns[0].lcn) + 1000,
      builder().IndexBlockOffset(v.treeIndex, v.treeIndex.blocks[3].vcn) + 300,
  };
  for (const uint64_t cut : cuts) {
    SCOPED_TRACE(cut);
    FreshCopy();
    std::filesystem::resize_file(image_, cut);
    MountCopy();
    EXPECT_NE(ReadAllResult(), 0);
  }
}

using Damage = std::function<void(test::ImageBuilder&)>;

class DamageStructure : public SampleVolumeTest {
 protected:
  static Damage InRecord(uint32_t n, std::function<void(uint8_t*)> edit) {
    return [n, edit](test::ImageBuilder& b) { b.PatchRecord(n, edit); };
  }
  static Damage Bytes(uint64_t offset, std::vector<uint8_t> bytes) {
    return [offset, bytes](test::ImageBuilder& b) { b.WriteBytes(offset, bytes); };
  }
  // multi.bin's run list started with `runs` (which must fit its room).
  Damage RunList(std::vector<uint8_t> runs) {
    return InRecord(sample().multi, [this, runs](uint8_t* r) {
      uint8_t* a = Attribute(r, AT_DATA);
      std::copy(runs.begin(), runs.end(), a + AttrRunListOffset(a));
    });
  }
  // An edit of entry `index` of listed.bin's attribute list (entries: 0x10,
  // 0x30, 0x80 at VCN 0, 0x80 at VCN 5, 0x1000, each 0x20 bytes).
  Damage ListEntry(uint32_t index, std::function<void(uint8_t*)> edit) {
    return InRecord(sample().listed.base, [this, index, edit](uint8_t* r) {
      edit(AttrValue(Attribute(r, AT_ATTRIBUTE_LIST)) + index * kAttributeListEntrySize);
    });
  }

  std::pair<uint32_t, std::vector<uint8_t>> ReadListed() {
    Toolkit* t = nullptr;
    std::vector<uint8_t> buffer(sample().listedSize);
    uint32_t done = 0, records = 0;
    test::CapturedStdout([&] {
      EXPECT_EQ(ToolkitOpen(t, "/1/listed.bin"), 0);
      if (t != nullptr) {
        records = t->fileChain.Size();
        EXPECT_EQ(FileRead(t, 0, sample().listedSize, buffer.data(), done), 0);
        ToolkitClose(t);
      }
      std::fflush(stdout);
    });
    buffer.resize(done);
    return {records, buffer};
  }
};

// Each damage fails the path through it with 114 (fix-up damage from the
// fix-up check), and some read of the volume.
TEST_F(DamageStructure, EachKindOfDamageFailsTheReadWith114) {
  struct Case {
    const char* what;
    const char* path;
    Damage damage;
    bool fixup = false;  // the fix-up check is the one that fires
  };
  const uint32_t size = geometry().recordSize;
  const SampleVolume& v = sample();
  const uint32_t last = geometry().clusterCount - 4;
  const uint64_t top = builder().IndexBlockOffset(v.treeIndex, v.treeIndex.topVcn);
  const Case cases[] = {
      // One per kind of record (every load check: format_record_test.cpp).
      {"wrong magic", "/1/README", InRecord(v.readme, [](uint8_t* r) { r[3] = 'X'; })},
      {"attribute past the record", "/1/README",
       InRecord(v.readme, [&](uint8_t* r) { SetAttrLength(Attribute(r, AT_DATA), size); })},
      {"run list past the attribute", "/1/multi.bin",
       InRecord(v.multi,
                [this](uint8_t* r) {
                  uint8_t* a = Attribute(r, AT_DATA);
                  PutLE16(a + attr::kRunListOffset, static_cast<uint16_t>(AttrLength(a) + 8));
                })},
      {"bytes in use beyond the record", "/1/README",
       InRecord(v.readme, [&](uint8_t* r) { SetRecordBytesInUse(r, size + 8); })},
      {"directory on the path", "/1/a/b/c/deep.txt",
       InRecord(v.a, [&](uint8_t* r) { SetAttrValueLength(Attribute(r, AT_INDEX_ROOT), 0x7FF0); })},
      {"MFT record", "/1",
       InRecord(0, [this](uint8_t* r) { SetAttrLength(Attribute(r, AT_DATA), 0); })},
      {"run leaving the volume", "/1/multi.bin",
       RunList({0x31, 0x10, static_cast<uint8_t>(last), static_cast<uint8_t>(last >> 8),
                static_cast<uint8_t>(last >> 16), 0x00})},
      {"run before cluster 0", "/1/multi.bin", RunList({0x11, 0x02, 0x10, 0x11, 0x01, 0x80, 0x00})},
      {"list entry length zero", "/1/listed.bin",
       ListEntry(2, [](uint8_t* e) { PutLE16(e + 4, 0); })},
      {"list entry past the value", "/1/listed.bin",
       ListEntry(4, [](uint8_t* e) { PutLE16(e + 4, 0x40); })},
      {"list entry name outside the entry", "/1/listed.bin",  // 8 characters at 0x1C
       ListEntry(1, [](uint8_t* e) { PutLE16(e + 6, 0x1C08); })},
      {"list entry record beyond the MFT", "/1/listed.bin",
       ListEntry(3, [beyond = geometry().mftRecords](uint8_t* e) { PutLE64(e + 0x10, beyond); })},
      {"list entry naming a record without magic", "/1/listed.bin",
       InRecord(v.listed.second, [](uint8_t* r) { r[0] = 'X'; })},
      {"stretch end of a file record", "/1/multi.bin",
       Bytes(builder().RecordOffset(v.multi) + 1022, {0x5A, 0xA5}), true},
      {"stretch end of the MFT record", "/1/a/b/c/deep.txt",
       Bytes(builder().RecordOffset(0) + 510, {0x5A, 0xA5}), true},
      {"stretch end of an index block", "/1/tree", Bytes(top + 510, {0x5A, 0xA5}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreshCopy();
    c.damage(builder());
    ClearCorruptionSite();
    MountCopy();
    EXPECT_EQ(ReadResult(c.path), kErrBadStructure);
    if (c.fixup) {
      EXPECT_EQ(LastCorruptionSite().rfind("volume/format/fixup.cpp:", 0), 0u)
          << LastCorruptionSite();
    }
    EXPECT_NE(ReadAllResult(), 0);
    if (std::string(c.what) == "directory on the path") {
      EXPECT_EQ(ReadResult("/1/README"), 0);
    }
  }
  // The last damage (the top block's stretch end) fails lookups through the block too.
  EXPECT_EQ(LookupResult("/1/tree", v.treeIndex.order[0].name), kErrBadStructure);
}

// An entry naming the base record itself names a record already loaded:
// nothing more is read, and the data ends where the mapped runs end.
TEST_F(DamageStructure, EntryNamingItsOwnRecord) {
  const uint32_t base = sample().listed.base;
  ListEntry(3, [&](uint8_t* e) { PutLE64(e + 0x10, base); })(builder());
  MountCopy();
  const auto [records, bytes] = ReadListed();
  EXPECT_EQ(records, 2u);
  EXPECT_EQ(bytes.size(), 5 * geometry().clusterSize);  // the first instance's clusters
}

// Extension records whose own lists name the base and each other are each
// loaded once: the load ends, and the data reads whole.
TEST_F(DamageStructure, ListsNamingEachOtherInACycle) {
  std::vector<uint8_t> base = builder().ReadRecord(sample().listed.base);
  const uint8_t* held = Attribute(base.data(), AT_ATTRIBUTE_LIST);
  const std::vector<uint8_t> list(AttrValue(held), AttrValue(held) + AttrValueLength(held));
  for (uint32_t n : {sample().listed.first, sample().listed.second}) {
    builder().PatchRecord(n, [&](uint8_t* r) {
      const std::vector<uint8_t> a = test::ResidentAttribute(AT_ATTRIBUTE_LIST, list);
      ASSERT_TRUE(InsertAttributeBytes(r, geometry().recordSize, a.data(), a.size()));
    });
  }
  MountCopy();
  EXPECT_EQ(ReadListed().second, test::PatternBytes(sample().listedSize, 3));
}

TEST_F(DamageStructure, NonResidentListIsRefused) {
  const uint32_t lcn = builder().AllocateClusters(1);
  mkfs::RecordBuilder base(geometry().recordSize, geometry().bytesPerSector);
  mkfs::AddNodeAttributes(base, 5, "listed.bin", NewNodeDescriptor(0x1B, 0, {}));
  base.AddNonResident(AT_ATTRIBUTE_LIST, "",
                      mkfs::WholeValue({{lcn, 1}}, 0xA0, geometry().clusterSize));
  builder().PatchRecord(sample().listed.base,
                        [&](uint8_t* r) { std::copy_n(base.image().data(), base.image().size(), r); });
  MountCopy();
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrListNonResident);
}

}  // namespace
}  // namespace vrax
