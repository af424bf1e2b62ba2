// Damaged FILE records, run lists, attribute lists, update sequence arrays
// and truncated images: each is answered with an error (114 where the
// engine recognises a malformed structure), never with a crash, a hang or
// a read outside a buffer (these tests run under AddressSanitizer in CI).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "mkfs/node_records.h"
#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "support/sample_volume.h"
#include "volume/attributes/attributes.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {
namespace {

using test::ClusterRun;
using test::SampleVolume;
using test::SampleVolumeTest;

// ---------------------------------------------------------------------------
// Images cut short: every cut makes some read fail.

class DamageTruncated : public SampleVolumeTest {};

// Cut inside the boot cluster, the MFT's own record, file data and the
// index blocks.
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

// ---------------------------------------------------------------------------
// Record headers and attribute headers.

class DamageRecord : public SampleVolumeTest {};

// Each edit makes some read of the volume fail, and opening the path fail
// with 114.
TEST_F(DamageRecord, EachKindOfDamageFailsTheOpen) {
  struct Case {
    const char* what;
    uint32_t record;
    const char* path;
    std::function<void(uint8_t*)> edit;
  };
  const uint32_t size = geometry().recordSize;
  const SampleVolume& v = sample();
  const Case cases[] = {
      {"wrong magic", v.readme, "/1/README", [](uint8_t* r) { r[3] = 'X'; }},
      {"attribute length zero", v.readme, "/1/README",
       [this](uint8_t* r) { SetAttrLength(Attribute(r, AT_FILE_NAME), 0); }},
      {"attribute past the record", v.readme, "/1/README",
       [&](uint8_t* r) { SetAttrLength(Attribute(r, AT_DATA), size); }},
      {"name outside the attribute", v.multi, "/1/multi.bin",
       [this](uint8_t* r) {
         uint8_t* a = Attribute(r, AT_DATA);
         a[attr::kNameLength] = 10;
         a[attr::kNameOffset] = static_cast<uint8_t>(AttrLength(a) - 4);
       }},
      {"name length beyond the attribute", v.tree, "/1/tree",
       [this](uint8_t* r) { Attribute(r, AT_INDEX_ROOT)[attr::kNameLength] = 0xFF; }},
      {"resident value past the attribute", v.readme, "/1/README",
       [this](uint8_t* r) { SetAttrValueLength(Attribute(r, AT_DATA), 0x7FFF); }},
      {"resident value offset past the attribute", v.readme, "/1/README",
       [this](uint8_t* r) {
         uint8_t* a = Attribute(r, AT_OSK_FILEDES);
         PutLE16(a + attr::kValueOffset, static_cast<uint16_t>(AttrLength(a)));
       }},
      {"run list past the attribute", v.multi, "/1/multi.bin",
       [this](uint8_t* r) {
         uint8_t* a = Attribute(r, AT_DATA);
         PutLE16(a + attr::kRunListOffset, static_cast<uint16_t>(AttrLength(a) + 8));
       }},
      {"run list inside the header", v.multi, "/1/multi.bin",
       [this](uint8_t* r) { PutLE16(Attribute(r, AT_DATA) + attr::kRunListOffset, 0x20); }},
      {"bytes in use beyond the record", v.readme, "/1/README",
       [&](uint8_t* r) { SetRecordBytesInUse(r, size + 8); }},
      {"first attribute outside the record", v.readme, "/1/README",
       [](uint8_t* r) { PutLE16(r + record::kFirstAttribute, 0xFFF0); }},
      {"end marker overwritten", v.readme, "/1/README",
       [](uint8_t* r) {
         PutLE32(r + RecordBytesInUse(r) - record::kEndMarkerSize, AT_EA);
         SetRecordAttributeCount(r, 0xFFFF);
       }},
      // A damaged directory fails every path through it (and only those,
      // checked below); a damaged MFT record fails every open.
      {"directory on the path", v.a, "/1/a/b/c/deep.txt",
       [this](uint8_t* r) { SetAttrValueLength(Attribute(r, AT_INDEX_ROOT), 0x7FF0); }},
      {"MFT record", 0, "/1", [this](uint8_t* r) { SetAttrLength(Attribute(r, AT_DATA), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreshCopy();
    builder().PatchRecord(c.record, c.edit);
    MountCopy();
    EXPECT_NE(ReadAllResult(), 0);
    EXPECT_EQ(ReadResult(c.path), kErrBadStructure);
    if (c.record == v.a) {
      EXPECT_EQ(ReadResult("/1/README"), 0);
    }
  }
}

// ---------------------------------------------------------------------------
// Run lists of multi.bin.

class DamageRunList : public SampleVolumeTest {
 protected:
  // Replaces the start of multi.bin's run list with `runs` (which must fit
  // the run list's room) and returns what reading the file gives.
  int32_t ReadWithRuns(const std::vector<uint8_t>& runs) {
    builder().PatchRecord(sample().multi, [&](uint8_t* r) {
      uint8_t* a = Attribute(r, AT_DATA);
      ASSERT_LE(AttrRunListOffset(a) + runs.size(), AttrLength(a));
      std::copy(runs.begin(), runs.end(), a + AttrRunListOffset(a));
    });
    MountCopy();
    return ReadResult("/1/multi.bin");
  }

  uint32_t RunRoom() {
    std::vector<uint8_t> r = builder().ReadRecord(sample().multi);
    const uint8_t* a = Attribute(r.data(), AT_DATA);
    return AttrLength(a) - AttrRunListOffset(a);
  }
};

TEST_F(DamageRunList, EachKindOfDamageFailsTheRead) {
  const uint32_t last = geometry().clusterCount - 4;
  std::vector<uint8_t> unterminated;
  const uint32_t room = RunRoom();
  while (unterminated.size() + 3 <= room) {
    unterminated.insert(unterminated.end(), {0x11, 0x01, 0x08});
  }
  while (unterminated.size() < room) unterminated.push_back(0x88);  // fields that do not fit
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"sparse run", {0x01, 0x03, 0x00}},
      {"run length zero", {0x11, 0x00, 0x40, 0x00}},
      {"run leaving the volume",
       {0x31, 0x10, static_cast<uint8_t>(last), static_cast<uint8_t>(last >> 8),
        static_cast<uint8_t>(last >> 16), 0x00}},
      {"run before cluster 0", {0x11, 0x02, 0x10, 0x11, 0x01, 0x80, 0x00}},
      {"offset beyond 32 bits", {0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}},
      {"length beyond 32 bits", {0x15, 0x01, 0x00, 0x00, 0x00, 0x01, 0x10, 0x00}},
      {"no terminator", unterminated},
  };
  for (const auto& [what, runs] : cases) {
    SCOPED_TRACE(what);
    FreshCopy();
    EXPECT_EQ(ReadWithRuns(runs), kErrBadStructure);
  }
}

// LookupRun on an attribute held in a buffer of exactly its length: a
// malformed list is refused without reading past the buffer.
TEST_F(DamageRunList, LookupRunStaysInsideTheAttribute) {
  std::vector<uint8_t> r = builder().ReadRecord(sample().multi);
  const uint8_t* a = Attribute(r.data(), AT_DATA);
  const std::vector<std::vector<uint8_t>> lists = {{0x01, 0x03},
                                                   {0x11, 0x00, 0x40},
                                                   {0x44, 0x01},
                                                   {0x51, 0, 0, 0, 0, 0, 0x01},
                                                   {0x11, 0x02, 0x10, 0x11, 0x01, 0x80}};
  for (const std::vector<uint8_t>& list : lists) {
    std::vector<uint8_t> attribute(a, a + AttrRunListOffset(a));
    attribute.insert(attribute.end(), list.begin(), list.end());
    SetAttrLength(attribute.data(), static_cast<uint32_t>(attribute.size()));
    uint32_t first = 0, last = 0, length = 0, lcn = 0;
    EXPECT_EQ(LookupRun(attribute.data(), 5, first, last, length, lcn, false), kErrBadStructure)
        << int(list[0]);
  }
}

// ---------------------------------------------------------------------------
// The attribute list of listed.bin (entries: 0x10, 0x30, 0x80 at VCN 0,
// 0x80 at VCN 5, 0x1000, each 0x20 bytes).

class DamageAttributeList : public SampleVolumeTest {
 protected:
  void EditEntry(uint32_t index, const std::function<void(uint8_t*)>& edit) {
    builder().PatchRecord(sample().listed.base, [&](uint8_t* r) {
      uint8_t* list = AttrValue(Attribute(r, AT_ATTRIBUTE_LIST));
      edit(list + index * kAttributeListEntrySize);
    });
    MountCopy();
  }

  // Appends a resident attribute behind the last one of a record image.
  static void AppendResident(uint8_t* r, uint32_t type, const std::vector<uint8_t>& value) {
    const uint32_t at = RecordBytesInUse(r) - record::kEndMarkerSize;
    const uint32_t length =
        attr::kResidentHeader + ((static_cast<uint32_t>(value.size()) + 1) & ~1u);
    std::fill(r + at, r + at + length + record::kEndMarkerSize, 0);
    PutLE32(r + at, type);
    SetAttrLength(r + at, length);
    SetAttrValueLength(r + at, static_cast<uint16_t>(value.size()));
    PutLE16(r + at + attr::kValueOffset, attr::kResidentHeader);
    std::copy(value.begin(), value.end(), r + at + attr::kResidentHeader);
    PutLE32(r + at + length, record::kEndMarker);
    SetRecordBytesInUse(r, at + length + record::kEndMarkerSize);
    SetRecordAttributeCount(r, static_cast<uint16_t>(RecordAttributeCount(r) + 1));
  }

  // Opens and reads listed.bin quietly; gives the records loaded and the
  // bytes read.
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

  std::vector<uint8_t> ListValue() {
    std::vector<uint8_t> r = builder().ReadRecord(sample().listed.base);
    const uint8_t* a = Attribute(r.data(), AT_ATTRIBUTE_LIST);
    return std::vector<uint8_t>(AttrValue(a), AttrValue(a) + AttrValueLength(a));
  }
};

TEST_F(DamageAttributeList, EachKindOfDamagedEntryFailsTheRead) {
  const uint32_t beyond = geometry().mftRecords;
  const std::pair<uint32_t, std::function<void(uint8_t*)>> cases[] = {
      {2, [](uint8_t* e) { PutLE16(e + 4, 0); }},
      {4, [](uint8_t* e) { PutLE16(e + 4, 0x40); }},  // past the value
      {1,
       [](uint8_t* e) {  // name outside the entry
         e[6] = 8;
         e[7] = 0x1C;
       }},
      {3, [](uint8_t* e) { PutLE64(e + 0x10, 0xFFFFFFFFu); }},
      {3, [&](uint8_t* e) { PutLE64(e + 0x10, beyond); }},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    FreshCopy();
    EditEntry(cases[i].first, cases[i].second);
    EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
  }
  // An entry naming a record without its magic.
  FreshCopy();
  builder().PatchRecord(sample().listed.second, [](uint8_t* r) { r[0] = 'X'; });
  MountCopy();
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
}

// An entry naming the base record itself names a record already loaded:
// nothing more is read, and the data ends where the mapped runs end.
TEST_F(DamageAttributeList, EntryNamingItsOwnRecord) {
  const uint32_t base = sample().listed.base;
  EditEntry(3, [&](uint8_t* e) { PutLE64(e + 0x10, base); });
  const auto [records, bytes] = ReadListed();
  EXPECT_EQ(records, 2u);
  EXPECT_EQ(bytes.size(), 5 * geometry().clusterSize);  // the first instance's clusters
}

// Extension records whose own lists name the base and each other are each
// loaded once: the load ends, and the data reads whole.
TEST_F(DamageAttributeList, ListsNamingEachOtherInACycle) {
  const std::vector<uint8_t> list = ListValue();
  for (uint32_t n : {sample().listed.first, sample().listed.second}) {
    builder().PatchRecord(n, [&](uint8_t* r) { AppendResident(r, AT_ATTRIBUTE_LIST, list); });
  }
  MountCopy();
  EXPECT_EQ(ReadResult("/1/listed.bin"), 0);
  EXPECT_EQ(ReadListed().second, test::PatternBytes(sample().listedSize, 3));
}

TEST_F(DamageAttributeList, NonResidentListIsRefused) {
  const uint32_t K = geometry().clusterSize;
  const uint32_t lcn = builder().AllocateClusters(1);
  mkfs::RecordBuilder base(geometry().recordSize, geometry().bytesPerSector);
  mkfs::AddNodeAttributes(base, 5, "listed.bin", mkfs::NewDescriptor(0x1B, 0, {}));
  base.AddNonResident(AT_ATTRIBUTE_LIST, "", mkfs::WholeValue({{lcn, 1}}, 0xA0, K));
  builder().WriteRecord(sample().listed.base, base.image());
  MountCopy();
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrListNonResident);
}

// ---------------------------------------------------------------------------
// Update sequence arrays, patched below the fix-ups.

class DamageFixup : public SampleVolumeTest {
 protected:
  int32_t ReadAfterPatch(uint64_t offset, const std::vector<uint8_t>& bytes,
                         const std::string& path) {
    builder().WriteBytes(offset, bytes);
    MountCopy();
    return ReadResult(path);
  }
};

// Counts and offsets outside the record or block, and stretch ends that do
// not match, in file records, the MFT's own record and index blocks.
TEST_F(DamageFixup, EachKindOfDamageFailsTheRead) {
  const uint32_t size = geometry().recordSize;
  const test::BuiltIndex& index = sample().treeIndex;
  const uint64_t readme = builder().RecordOffset(sample().readme);
  const uint64_t top = builder().IndexBlockOffset(index, index.topVcn);
  const std::tuple<uint64_t, std::vector<uint8_t>, const char*> cases[] = {
      {readme + 6, {0xFF, 0x7F}, "/1/README"},
      {readme + 4, {static_cast<uint8_t>(size - 2), static_cast<uint8_t>((size - 2) >> 8)},
       "/1/README"},
      {builder().RecordOffset(sample().multi) + 1022, {0x5A, 0xA5}, "/1/multi.bin"},
      {builder().RecordOffset(0) + 510, {0x5A, 0xA5}, "/1/a/b/c/deep.txt"},
      {top + 510, {0x5A, 0xA5}, "/1/tree"},
      {top + 6, {0xFF, 0x7F}, "/1/tree"},
  };
  for (const auto& [offset, bytes, path] : cases) {
    SCOPED_TRACE(offset);
    FreshCopy();
    ClearCorruptionSite();
    EXPECT_EQ(ReadAfterPatch(offset, bytes, path), kErrBadStructure);
    // The error says which check fired.
    EXPECT_EQ(LastCorruptionSite().rfind("volume/format/fixup.cpp:", 0), 0u) << LastCorruptionSite();
  }
  EXPECT_EQ(LookupResult("/1/tree", index.order[0].name), kErrBadStructure);
}

}  // namespace
}  // namespace vrax
