// Damaged FILE records, run lists, attribute lists, update sequence arrays
// and truncated images: each is answered with an error (114 where the
// engine recognises a malformed structure), never with a crash, a hang or
// a read outside a buffer (these tests run under AddressSanitizer in CI).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mkfs/node_records.h"
#include "platform/error_codes.h"
#include "support/image_builder.h"
#include "volume/attributes/attributes.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {
namespace {

using test::ClusterRun;
using test::SampleVolumeTest;

// ---------------------------------------------------------------------------
// Images cut short: every cut makes some read fail.

struct Cut {
  const char* label;
  uint64_t (*offset)(const test::ImageBuilder& b, const test::SampleVolume& v);
};

const Cut kCuts[] = {
    {"InsideTheBootCluster", [](const auto&, const auto&) -> uint64_t { return 1536; }},
    {"InsideRecordZero",
     [](const auto& b, const auto&) { return b.RecordOffset(0) + b.geometry().recordSize / 2; }},
    {"InsideTheRootRecord", [](const auto& b, const auto&) { return b.RecordOffset(5) + 100; }},
    {"BeforeTheClusterBitmap",
     [](const auto& b, const auto&) { return b.RecordOffset(b.geometry().mftRecords - 1); }},
    {"InsideAFileRecord",
     [](const auto& b, const auto& v) { return b.RecordOffset(v.listed.second) + 700; }},
    {"InsideFileData",
     [](const auto& b, const auto& v) { return b.ClusterOffset(v.multiRuns[0].lcn) + 1000; }},
    {"InsideTheIndexBlocks",
     [](const auto& b, const auto& v) {
       return b.IndexBlockOffset(v.treeIndex, v.treeIndex.blocks[3].vcn) + 300;
     }},
};

void PrintTo(const Cut& c, std::ostream* os) { *os << c.label; }

class DamageTruncated : public SampleVolumeTest, public ::testing::WithParamInterface<Cut> {};

TEST_P(DamageTruncated, EveryCutFailsSomeRead) {
  std::filesystem::resize_file(image_, GetParam().offset(builder(), sample()));
  MountCopy();
  EXPECT_NE(ReadAllResult(), 0);
}

std::string CutName(const ::testing::TestParamInfo<Cut>& p) { return p.param.label; }

INSTANTIATE_TEST_SUITE_P(Cuts, DamageTruncated, ::testing::ValuesIn(kCuts), CutName);

// ---------------------------------------------------------------------------
// Record headers and attribute headers.

class DamageRecord : public SampleVolumeTest {
 protected:
  // Edits a record, mounts the copy and returns what opening `path` gives.
  int32_t OpenAfter(uint32_t record, const std::string& path,
                    const std::function<void(uint8_t*)>& edit) {
    builder().PatchRecord(record, edit);
    MountCopy();
    EXPECT_NE(ReadAllResult(), 0);
    return ReadResult(path);
  }
  uint32_t RecordSize() { return geometry().recordSize; }
};

TEST_F(DamageRecord, WrongMagic) {
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README", [](uint8_t* r) { r[3] = 'X'; }),
            kErrBadStructure);
}

TEST_F(DamageRecord, AttributeLengthZero) {
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [this](uint8_t* r) { SetAttrLength(Attribute(r, AT_FILE_NAME), 0); }),
            kErrBadStructure);
}

TEST_F(DamageRecord, AttributeLengthPastTheRecord) {
  const uint32_t size = RecordSize();
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [&](uint8_t* r) { SetAttrLength(Attribute(r, AT_DATA), size); }),
            kErrBadStructure);
}

TEST_F(DamageRecord, NameOutsideTheAttribute) {
  EXPECT_EQ(OpenAfter(sample().multi, "/1/multi.bin",
                      [this](uint8_t* r) {
                        uint8_t* a = Attribute(r, AT_DATA);
                        a[attr::kNameLength] = 10;
                        a[attr::kNameOffset] = static_cast<uint8_t>(AttrLength(a) - 4);
                      }),
            kErrBadStructure);
}

TEST_F(DamageRecord, NameLengthBeyondTheAttribute) {
  EXPECT_EQ(
      OpenAfter(sample().tree, "/1/tree",
                [this](uint8_t* r) { Attribute(r, AT_INDEX_ROOT)[attr::kNameLength] = 0xFF; }),
      kErrBadStructure);
}

TEST_F(DamageRecord, ResidentValueLengthPastTheAttribute) {
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [this](uint8_t* r) { SetAttrValueLength(Attribute(r, AT_DATA), 0x7FFF); }),
            kErrBadStructure);
}

TEST_F(DamageRecord, ResidentValueOffsetPastTheAttribute) {
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [this](uint8_t* r) {
                        uint8_t* a = Attribute(r, AT_OSK_FILEDES);
                        PutLE16(a + attr::kValueOffset, static_cast<uint16_t>(AttrLength(a)));
                      }),
            kErrBadStructure);
}

TEST_F(DamageRecord, RunListOffsetPastTheAttribute) {
  EXPECT_EQ(OpenAfter(sample().multi, "/1/multi.bin",
                      [this](uint8_t* r) {
                        uint8_t* a = Attribute(r, AT_DATA);
                        PutLE16(a + attr::kRunListOffset, static_cast<uint16_t>(AttrLength(a) + 8));
                      }),
            kErrBadStructure);
}

TEST_F(DamageRecord, RunListOffsetInsideTheHeader) {
  EXPECT_EQ(OpenAfter(sample().multi, "/1/multi.bin",
                      [this](uint8_t* r) {
                        PutLE16(Attribute(r, AT_DATA) + attr::kRunListOffset, 0x20);
                      }),
            kErrBadStructure);
}

TEST_F(DamageRecord, BytesInUseBeyondTheRecord) {
  const uint32_t size = RecordSize();
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [&](uint8_t* r) { SetRecordBytesInUse(r, size + 8); }),
            kErrBadStructure);
}

TEST_F(DamageRecord, FirstAttributeOutsideTheRecord) {
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [](uint8_t* r) { PutLE16(r + record::kFirstAttribute, 0xFFF0); }),
            kErrBadStructure);
}

TEST_F(DamageRecord, EndMarkerOverwritten) {
  EXPECT_EQ(OpenAfter(sample().readme, "/1/README",
                      [](uint8_t* r) {
                        const uint32_t end = RecordBytesInUse(r) - record::kEndMarkerSize;
                        PutLE32(r + end, AT_EA);
                        SetRecordAttributeCount(r, 0xFFFF);
                      }),
            kErrBadStructure);
}

// A damaged directory fails every path that walks through it, and only those.
TEST_F(DamageRecord, DirectoryOnThePath) {
  EXPECT_EQ(
      OpenAfter(sample().a, "/1/a/b/c/deep.txt",
                [this](uint8_t* r) { SetAttrValueLength(Attribute(r, AT_INDEX_ROOT), 0x7FF0); }),
      kErrBadStructure);
  EXPECT_EQ(ReadResult("/1/README"), 0);
}

TEST_F(DamageRecord, MftRecordFailsEveryOpen) {
  EXPECT_EQ(OpenAfter(0, "/1", [this](uint8_t* r) { SetAttrLength(Attribute(r, AT_DATA), 0); }),
            kErrBadStructure);
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

TEST_F(DamageRunList, SparseRunHeader) {
  EXPECT_EQ(ReadWithRuns({0x01, 0x03, 0x00}), kErrBadStructure);
}

TEST_F(DamageRunList, RunLengthZero) {
  EXPECT_EQ(ReadWithRuns({0x11, 0x00, 0x40, 0x00}), kErrBadStructure);
}

TEST_F(DamageRunList, RunLeavingTheVolume) {
  const uint32_t last = geometry().clusterCount - 4;
  EXPECT_EQ(ReadWithRuns({0x31, 0x10, static_cast<uint8_t>(last), static_cast<uint8_t>(last >> 8),
                          static_cast<uint8_t>(last >> 16), 0x00}),
            kErrBadStructure);
}

TEST_F(DamageRunList, RunBeforeClusterZero) {
  EXPECT_EQ(ReadWithRuns({0x11, 0x02, 0x10, 0x11, 0x01, 0x80, 0x00}), kErrBadStructure);
}

TEST_F(DamageRunList, OffsetFieldOverflowingThirtyTwoBits) {
  EXPECT_EQ(ReadWithRuns({0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}), kErrBadStructure);
}

TEST_F(DamageRunList, LengthFieldOverflowingThirtyTwoBits) {
  EXPECT_EQ(ReadWithRuns({0x15, 0x01, 0x00, 0x00, 0x00, 0x01, 0x10, 0x00}), kErrBadStructure);
}

TEST_F(DamageRunList, NoTerminatorBeforeTheAttributeEnds) {
  std::vector<uint8_t> runs;
  const uint32_t room = RunRoom();
  while (runs.size() + 3 <= room) runs.insert(runs.end(), {0x11, 0x01, 0x08});
  while (runs.size() < room) runs.push_back(0x88);  // a header whose fields do not fit
  EXPECT_EQ(ReadWithRuns(runs), kErrBadStructure);
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

  std::vector<uint8_t> ListValue() {
    std::vector<uint8_t> r = builder().ReadRecord(sample().listed.base);
    const uint8_t* a = Attribute(r.data(), AT_ATTRIBUTE_LIST);
    return std::vector<uint8_t>(AttrValue(a), AttrValue(a) + AttrValueLength(a));
  }
};

TEST_F(DamageAttributeList, EntryLengthZero) {
  EditEntry(2, [](uint8_t* e) { PutLE16(e + 4, 0); });
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
}

TEST_F(DamageAttributeList, EntryLengthPastTheValue) {
  EditEntry(4, [](uint8_t* e) { PutLE16(e + 4, 0x40); });
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
}

TEST_F(DamageAttributeList, EntryNameOutsideTheEntry) {
  EditEntry(1, [](uint8_t* e) {
    e[6] = 8;
    e[7] = 0x1C;
  });
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
}

TEST_F(DamageAttributeList, EntryNamingRecordAllOnes) {
  EditEntry(3, [](uint8_t* e) { PutLE64(e + 0x10, 0xFFFFFFFFu); });
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
}

TEST_F(DamageAttributeList, EntryNamingARecordBeyondTheMft) {
  const uint32_t beyond = geometry().mftRecords;
  EditEntry(3, [&](uint8_t* e) { PutLE64(e + 0x10, beyond); });
  EXPECT_EQ(ReadResult("/1/listed.bin"), kErrBadStructure);
}

TEST_F(DamageAttributeList, EntryNamingARecordWithoutMagic) {
  const uint32_t n = sample().listed.second;
  builder().PatchRecord(n, [](uint8_t* r) { r[0] = 'X'; });
  EXPECT_EQ(
      [&] {
        MountCopy();
        return ReadResult("/1/listed.bin");
      }(),
      kErrBadStructure);
}

// An entry naming the base record itself names a record already loaded:
// nothing more is read, and the data ends where the mapped runs end.
TEST_F(DamageAttributeList, EntryNamingItsOwnRecord) {
  const uint32_t base = sample().listed.base;
  EditEntry(3, [&](uint8_t* e) { PutLE64(e + 0x10, base); });
  Toolkit* t = nullptr;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(ToolkitOpen(t, "/1/listed.bin"), 0);
  std::fflush(stdout);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(t->fileChain.Size(), 2u);
  std::vector<uint8_t> buffer(sample().listedSize);
  uint32_t done = 0;
  test::CapturedStdout([&] {
    EXPECT_EQ(FileRead(t, 0, sample().listedSize, buffer.data(), done), 0);
    std::fflush(stdout);
  });
  EXPECT_EQ(done, 5 * geometry().clusterSize);  // the first instance's clusters
  ToolkitClose(t);
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
  Toolkit* t = nullptr;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(ToolkitOpen(t, "/1/listed.bin"), 0);
  std::fflush(stdout);
  ::testing::internal::GetCapturedStdout();
  std::vector<uint8_t> buffer(sample().listedSize);
  uint32_t done = 0;
  test::CapturedStdout([&] {
    EXPECT_EQ(FileRead(t, 0, sample().listedSize, buffer.data(), done), 0);
    std::fflush(stdout);
  });
  EXPECT_EQ(buffer, test::PatternBytes(sample().listedSize, 3));
  ToolkitClose(t);
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

TEST_F(DamageFixup, CountPastTheRecord) {
  EXPECT_EQ(ReadAfterPatch(builder().RecordOffset(sample().readme) + 6, {0xFF, 0x7F}, "/1/README"),
            kErrBadStructure);
}

TEST_F(DamageFixup, ArrayOffsetPastTheRecord) {
  const uint32_t size = geometry().recordSize;
  EXPECT_EQ(ReadAfterPatch(builder().RecordOffset(sample().readme) + 4,
                           {static_cast<uint8_t>(size - 2), static_cast<uint8_t>((size - 2) >> 8)},
                           "/1/README"),
            kErrBadStructure);
}

TEST_F(DamageFixup, StretchEndMismatch) {
  const uint64_t record = builder().RecordOffset(sample().multi);
  EXPECT_EQ(ReadAfterPatch(record + 1022, {0x5A, 0xA5}, "/1/multi.bin"), kErrBadStructure);
}

TEST_F(DamageFixup, MftStretchEndMismatchFailsEveryOpen) {
  EXPECT_EQ(ReadAfterPatch(builder().RecordOffset(0) + 510, {0x5A, 0xA5}, "/1"), kErrBadStructure);
  EXPECT_EQ(ReadResult("/1/a/b/c/deep.txt"), kErrBadStructure);
}

TEST_F(DamageFixup, IndexBlockStretchEndMismatch) {
  const test::BuiltIndex& index = sample().treeIndex;
  EXPECT_EQ(ReadAfterPatch(builder().IndexBlockOffset(index, index.topVcn) + 510, {0x5A, 0xA5},
                           "/1/tree"),
            kErrBadStructure);
  EXPECT_EQ(LookupResult("/1/tree", index.order[0].name), kErrBadStructure);
}

TEST_F(DamageFixup, IndexBlockCountPastTheBlock) {
  const test::BuiltIndex& index = sample().treeIndex;
  EXPECT_EQ(
      ReadAfterPatch(builder().IndexBlockOffset(index, index.topVcn) + 6, {0xFF, 0x7F}, "/1/tree"),
      kErrBadStructure);
}

}  // namespace
}  // namespace vrax
