// vrax-fsck driven through its binary: clean volumes of several geometries,
// populated volumes, each kind of damage it must name, images it cannot
// read at all, and damaged images that must never crash or hang it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fsck_volume.h"
#include "support/temp_file.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax::fsck_test {
namespace {

using test::TempDir;

constexpr uint32_t kRoot = record::kRoot;

// ---------------------------------------------------------------------------
// Clean volumes.

class FsckCleanTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FsckCleanTest, FreshVolumeHasNoProblems) {
  TempDir dir;
  const std::string image = dir.File("fresh.img");
  Format(image, std::string("--size 8M ") + GetParam());
  const FsckResult result = RunFsck(image);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.output.empty()) << result.output;
}

INSTANTIATE_TEST_SUITE_P(Geometries, FsckCleanTest,
                         ::testing::Values("", "--cluster-size 1024", "--cluster-size 512",
                                           "--sector-size 4096", "--cluster-size 16384",
                                           "--record-size 4096", "--index-size 8192"));

TEST(FsckCleanVolume, VerboseSummaryOfAFreshVolume) {
  TempDir dir;
  const std::string image = dir.File("fresh.img");
  Format(image, "--size 8M");
  const FsckResult result = RunFsck(image, "-v");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Has("records in use: 11")) << result.output;
  EXPECT_TRUE(result.Has("directories: 1")) << result.output;
  EXPECT_TRUE(result.Has("files: 0")) << result.output;
  EXPECT_TRUE(result.Has("file data bytes: 0")) << result.output;
  EXPECT_TRUE(result.Has("free clusters: 2030 of 2048")) << result.output;
}

TEST(FsckCleanVolume, TreeHundredsOfLevelsDeepIsWalkedWithoutProblems) {
  TempDir dir;
  const std::string image = dir.File("deep.img");
  Format(image, "--size 8M");
  FsckVolume v(image);
  constexpr uint32_t kDepth = 300;
  v.GrowMft(320);
  std::vector<uint32_t> records;
  for (uint32_t i = 0; i < kDepth; ++i) records.push_back(v.NewRecord());
  for (uint32_t i = 0; i < kDepth; ++i) {
    const uint32_t parent = i == 0 ? kRoot : records[i - 1];
    std::vector<IndexName> names;
    if (i + 1 < kDepth) names.push_back({"d", records[i + 1]});
    v.WriteDirectory(records[i], parent, "d", names);
  }
  v.WriteDirectory(kRoot, kRoot, ".", {{"d", records[0]}});
  v.Save(image);
  const FsckResult result = RunFsck(image, "-v");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Has("directories: 301")) << result.output;
  EXPECT_TRUE(result.Has("records in use: 311")) << result.output;
}

// ---------------------------------------------------------------------------
// A populated volume and damaged copies of it.
//
//   root:  alpha (5000 bytes), beta (empty), docs/
//   docs:  a1 b2 c3 d4 e5 (one cluster each), empty/; a two-level index:
//          block 0 (top) d4 e5 empty, d4's sub-node block 1 (VCN 1) a1 b2 c3

class FsckDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("base.img");
    Format(path_, "--size 8M");
    FsckVolume v(path_);
    alpha_ = v.NewRecord();
    beta_ = v.NewRecord();
    docs_ = v.NewRecord();
    v.WriteFile(alpha_, kRoot, "alpha", 5000);
    v.WriteFile(beta_, kRoot, "beta", 0);
    const char* names[] = {"a1", "b2", "c3", "d4", "e5"};
    std::vector<IndexName> inDocs;
    for (const char* name : names) {
      const uint32_t n = v.NewRecord();
      files_.push_back(n);
      v.WriteFile(n, docs_, name, 100);
      inDocs.push_back({name, n});
    }
    empty_ = v.NewRecord();
    v.WriteDirectory(empty_, docs_, "empty", {});
    inDocs.push_back({"empty", empty_});
    v.WriteDirectory(docs_, kRoot, "docs", inDocs);
    v.WriteDirectory(kRoot, kRoot, ".", {{"alpha", alpha_}, {"beta", beta_}, {"docs", docs_}});
    v.Save(path_);
  }

  FsckVolume Volume() const { return FsckVolume(path_); }

  // Saves a damaged copy and checks it.
  FsckResult Check(FsckVolume& v) {
    const std::string copy = dir_.File("damaged-" + std::to_string(++copies_) + ".img");
    v.Save(copy);
    return RunFsck(copy);
  }

  // Rewrites record n after `change` edited its image.
  template <typename Change>
  FsckResult CheckRecordChange(uint32_t n, Change change) {
    FsckVolume v = Volume();
    std::vector<uint8_t> image = v.ReadRecord(n);
    change(image, v.recordSize());
    v.WriteRecord(n, image);
    return Check(v);
  }

  // Rewrites index block `block` of docs after `change` edited it.
  template <typename Change>
  FsckResult CheckBlockChange(uint32_t block, Change change) {
    FsckVolume v = Volume();
    std::vector<uint8_t> image = v.ReadIndexBlock(docs_, block);
    change(image);
    v.WriteIndexBlock(docs_, block, image);
    return Check(v);
  }

  std::string Record(uint32_t n) const { return "record " + std::to_string(n) + ": "; }

  TempDir dir_;
  std::string path_;
  int copies_ = 0;
  uint32_t alpha_ = 0, beta_ = 0, docs_ = 0, empty_ = 0;
  std::vector<uint32_t> files_;  // a1 .. e5
};

// The first named entry of an index block.
uint8_t* FirstEntry(std::vector<uint8_t>& block) {
  return block.data() + BlockEntriesStart(block.data());
}

uint8_t* NextEntry(uint8_t* e) { return e + EntryLength(e); }

TEST_F(FsckDamageTest, PopulatedVolumeIsClean) {
  const FsckResult result = RunFsck(path_, "-v");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.lines.size(), 5u) << result.output;
  EXPECT_TRUE(result.Has("records in use: 20")) << result.output;
  EXPECT_TRUE(result.Has("directories: 3")) << result.output;
  EXPECT_TRUE(result.Has("files: 7")) << result.output;
  EXPECT_TRUE(result.Has("file data bytes: 5500")) << result.output;
}

TEST_F(FsckDamageTest, CheckingNeverChangesTheImage) {
  const std::vector<uint8_t> before = LoadImage(path_);
  RunFsck(path_, "-v");
  EXPECT_EQ(LoadImage(path_), before);
}

// --- cluster bitmap --------------------------------------------------------

TEST_F(FsckDamageTest, MarkedClusterThatNothingUsesIsLeaked) {
  FsckVolume v = Volume();
  const uint32_t last = v.clusterCount() - 1;
  ASSERT_FALSE(v.ClusterBit(last));
  v.SetClusterBit(last, true);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("cluster bitmap: 1 clusters marked in use but used by no record (first: " +
                         std::to_string(last) + ")"))
      << result.output;
  EXPECT_EQ(result.lines.size(), 1u) << result.output;
}

TEST_F(FsckDamageTest, UsedClusterThatIsNotMarkedIsReported) {
  FsckVolume v = Volume();
  const uint32_t lcn = v.Extents(alpha_, AT_DATA).at(0).lcn;
  v.SetClusterBit(lcn, false);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(
      "cluster bitmap: 1 clusters used but not marked in use (first: " + std::to_string(lcn) + ")"))
      << result.output;
  EXPECT_EQ(result.lines.size(), 1u) << result.output;
}

TEST_F(FsckDamageTest, TheBootClusterMustBeMarked) {
  FsckVolume v = Volume();
  v.SetClusterBit(0, false);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("clusters used but not marked in use (first: 0)")) << result.output;
}

TEST(FsckClusterBitmap, ClearBitPastTheLastClusterIsReported) {
  TempDir dir;
  const std::string image = dir.File("odd.img");
  Format(image, "--size 8400896");  // 2051 clusters: the bitmap holds 2112 bits
  FsckVolume v(image);
  ASSERT_EQ(v.clusterCount(), 2051u);
  ASSERT_TRUE(v.ClusterBit(2060));
  v.SetClusterBit(2060, false);
  v.Save(image);
  const FsckResult result = RunFsck(image);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(
      result.Has("cluster bitmap: 1 bits past the last cluster are clear (first: bit 2060)"))
      << result.output;
}

TEST_F(FsckDamageTest, ClusterUsedByTwoRecordsNamesBoth) {
  FsckVolume v = Volume();
  const uint32_t a1 = files_[0], b2 = files_[1];
  v.SetRuns(b2, AT_DATA, v.Extents(a1, AT_DATA));
  const uint32_t lcn = v.Extents(a1, AT_DATA).at(0).lcn;
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("cluster " + std::to_string(lcn) + " used by record " +
                         std::to_string(a1) + " (attribute 0x80) and by record " +
                         std::to_string(b2) + " (attribute 0x80)"))
      << result.output;
  // b2's own cluster is now marked but used by nothing.
  EXPECT_TRUE(result.Has("clusters marked in use but used by no record")) << result.output;
}

TEST_F(FsckDamageTest, RunListLeavingTheVolumeIsReported) {
  FsckVolume v = Volume();
  v.SetRuns(alpha_, AT_DATA, {{v.clusterCount() - 1, 2}});
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "attribute 0x80 run list leaves the volume"))
      << result.output;
}

TEST_F(FsckDamageTest, RunOffsetOfEightBytesIsReportedWithoutOverflow) {
  FsckVolume v = Volume();
  std::vector<uint8_t> image = v.ReadRecord(alpha_);
  const uint8_t* data = FindAttributeInRecord(image.data(), v.recordSize(), AT_DATA);
  std::vector<uint8_t> attribute(data, data + AttrRunListOffset(data));
  // 2 clusters at LCN 18, then 2 at an offset of 0x7FFF...FF from there,
  // then the terminator.
  const uint8_t run[] = {0x11, 0x02, 0x12, 0x81, 0x02, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};
  attribute.insert(attribute.end(), std::begin(run), std::end(run));
  SetAttrLength(attribute.data(), static_cast<uint32_t>(attribute.size()));
  v.ReplaceAttribute(alpha_, AT_DATA, attribute);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1) << result.output << result.errors;
  EXPECT_TRUE(result.Has(Record(alpha_) +
                         "attribute 0x80 run list leaves the volume (a run offset of "
                         "9223372036854775807 clusters)"))
      << result.output;
}

TEST_F(FsckDamageTest, MalformedRunListIsReported) {
  const FsckResult result =
      CheckRecordChange(alpha_, [](std::vector<uint8_t>& image, uint32_t size) {
        uint8_t* data = FindAttributeInRecord(image.data(), size, AT_DATA);
        data[AttrRunListOffset(data)] = 0x01;  // a run without offset bytes
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "attribute 0x80 run list is malformed")) << result.output;
}

// --- MFT bitmap and reachability -------------------------------------------

TEST_F(FsckDamageTest, ReachableRecordWhoseBitIsClearIsReported) {
  FsckVolume v = Volume();
  v.SetRecordBit(files_[2], false);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(files_[2]) + "reachable but not marked in use in the MFT bitmap"))
      << result.output;
  EXPECT_EQ(result.lines.size(), 1u) << result.output;
}

TEST_F(FsckDamageTest, RecordInUseThatNothingReachesIsReported) {
  FsckVolume v = Volume();
  const uint32_t ghost = v.NewRecord();
  v.WriteFile(ghost, kRoot, "ghost", 100);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(ghost) + "in use but unreachable")) << result.output;
  EXPECT_EQ(result.lines.size(), 1u) << result.output;
}

TEST_F(FsckDamageTest, NeverUsedRecordMarkedInUseIsUnreachable) {
  FsckVolume v = Volume();
  const uint32_t stray = v.NewRecord();  // an empty record, only its bit set
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(stray) + "in use but unreachable")) << result.output;
}

TEST_F(FsckDamageTest, MftBitmapOfTheWrongLengthIsReported) {
  const FsckResult result = CheckRecordChange(0, [](std::vector<uint8_t>& image, uint32_t size) {
    uint8_t* bitmap = FindAttributeInRecord(image.data(), size, AT_BITMAP);
    SetAttrValueLength(bitmap, static_cast<uint16_t>(AttrValueLength(bitmap) - 2));
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("MFT: record bitmap is 6 bytes, expected 8 for 64 records"))
      << result.output;
}

// --- records -----------------------------------------------------------------

TEST_F(FsckDamageTest, RecordWithoutMagicIsReported) {
  FsckVolume v = Volume();
  v.bytes()[v.RecordOffset(beta_)] = 'X';
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(beta_) + "no FILE magic")) << result.output;
}

TEST_F(FsckDamageTest, RecordFailingItsFixupsIsReported) {
  FsckVolume v = Volume();
  v.bytes()[v.RecordOffset(alpha_) + 510] ^= 0xFF;
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "update sequence check fails")) << result.output;
}

TEST_F(FsckDamageTest, AttributeRunningOutOfTheRecordIsReported) {
  const FsckResult result =
      CheckRecordChange(beta_, [](std::vector<uint8_t>& image, uint32_t size) {
        uint8_t* name = FindAttributeInRecord(image.data(), size, AT_FILE_NAME);
        SetAttrLength(name, 0x10000);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(beta_) + "attribute 2 runs outside the record")) << result.output;
}

TEST_F(FsckDamageTest, WrongAttributeCountIsReported) {
  const FsckResult result = CheckRecordChange(beta_, [](std::vector<uint8_t>& image, uint32_t) {
    SetRecordAttributeCount(image.data(),
                            static_cast<uint16_t>(RecordAttributeCount(image.data()) + 1));
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(beta_) + "attribute count 6 but 5 attributes")) << result.output;
}

// --- file contents -------------------------------------------------------------

TEST_F(FsckDamageTest, DescriptorSizeDifferingFromTheDataIsReported) {
  const FsckResult result = CheckRecordChange(alpha_, [](std::vector<uint8_t>& image,
                                                         uint32_t size) {
    SetDescriptorSize(AttrValue(FindAttributeInRecord(image.data(), size, AT_OSK_FILEDES)), 1234);
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "descriptor size 1234 differs from the data size 5000"))
      << result.output;
}

TEST_F(FsckDamageTest, DescriptorOfTheWrongLengthIsReported) {
  const FsckResult result =
      CheckRecordChange(alpha_, [](std::vector<uint8_t>& image, uint32_t size) {
        SetAttrValueLength(FindAttributeInRecord(image.data(), size, AT_OSK_FILEDES), 18);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "file descriptor is 18 bytes, not 20")) << result.output;
}

TEST_F(FsckDamageTest, DirectoryFlagAndDescriptorBitMustAgree) {
  const FsckResult dir = CheckRecordChange(docs_, [](std::vector<uint8_t>& image, uint32_t size) {
    AttrValue(FindAttributeInRecord(image.data(), size, AT_OSK_FILEDES))[0] &= 0x7F;
  });
  EXPECT_EQ(dir.exitCode, 1);
  EXPECT_TRUE(
      dir.Has(Record(docs_) + "directory flag 0x0002 is set but descriptor bit 0x80 is clear"))
      << dir.output;
  const FsckResult file = CheckRecordChange(beta_, [](std::vector<uint8_t>& image, uint32_t size) {
    AttrValue(FindAttributeInRecord(image.data(), size, AT_OSK_FILEDES))[0] |= 0x80;
  });
  EXPECT_EQ(file.exitCode, 1);
  EXPECT_TRUE(
      file.Has(Record(beta_) + "descriptor bit 0x80 is set but the directory flag 0x0002 is clear"))
      << file.output;
}

TEST_F(FsckDamageTest, FileNameMustNameTheListingDirectory) {
  const FsckResult result =
      CheckRecordChange(files_[0], [](std::vector<uint8_t>& image, uint32_t size) {
        PutLE32(AttrValue(FindAttributeInRecord(image.data(), size, AT_FILE_NAME)), kRoot);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(files_[0]) + "file name gives parent 5, but directory " +
                         std::to_string(docs_) + " lists it"))
      << result.output;
}

TEST_F(FsckDamageTest, AllocatedSizeDisagreeingWithTheRunsIsReported) {
  const FsckResult result =
      CheckRecordChange(alpha_, [](std::vector<uint8_t>& image, uint32_t size) {
        uint8_t* data = FindAttributeInRecord(image.data(), size, AT_DATA);
        SetAttrAllocatedSize(data, AttrAllocatedSize(data) + 4096);
        SetAttrDataSize(data, 9000);
        SetAttrInitializedSize(data, 9000);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) +
                         "attribute 0x80 allocated size 12288 but its runs hold 2 clusters"))
      << result.output;
  EXPECT_TRUE(result.Has(Record(alpha_) +
                         "attribute 0x80 data size 9000 exceeds the 8192 bytes its runs hold"))
      << result.output;
}

// --- directory indexes ---------------------------------------------------------

TEST_F(FsckDamageTest, SubNodePointingAtItsOwnBlockIsReportedWithoutHanging) {
  const FsckResult result = CheckBlockChange(
      0, [](std::vector<uint8_t>& block) { SetEntrySubNode(FirstEntry(block), 0); });
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Has("directory " + std::to_string(docs_) +
                         ": index block VCN 0: sub-node VCN 0 leads to a block already reached"))
      << result.output;
  // The child block is cut off, and with it the names it holds.
  EXPECT_TRUE(result.Has("index blocks marked in use but not reachable")) << result.output;
  EXPECT_TRUE(result.Has(Record(files_[0]) + "in use but unreachable")) << result.output;
}

TEST_F(FsckDamageTest, CycleThroughTwoBlocksIsReportedWithoutHanging) {
  const FsckResult result = CheckBlockChange(1, [](std::vector<uint8_t>& block) {
    uint8_t* e = FirstEntry(block);
    e[ie::kFlags] |= ie::kHasSubNode;
    SetEntrySubNode(e, 0);
  });
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_TRUE(result.Has("index block VCN 1: sub-node VCN 0 leads to a block already reached"))
      << result.output;
}

TEST_F(FsckDamageTest, SubNodeBeyondTheAllocationIsReported) {
  const FsckResult result = CheckBlockChange(
      0, [](std::vector<uint8_t>& block) { SetEntrySubNode(FirstEntry(block), 400); });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(
      result.Has("index block VCN 0: sub-node VCN 400 lies beyond the index allocation (4 blocks)"))
      << result.output;
}

TEST_F(FsckDamageTest, NamesOutOfOrderAreReported) {
  const FsckResult result = CheckBlockChange(0, [](std::vector<uint8_t>& block) {
    uint8_t* e5 = NextEntry(FirstEntry(block));
    ASSERT_EQ(EntryNameChar(e5, 0), 'e');
    e5[ie::kName] = 'a';
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("entry \"a5\" is out of order after \"d4\"")) << result.output;
  EXPECT_TRUE(
      result.Has(Record(files_[4]) + "file name \"e5\" differs from its index entry \"a5\""))
      << result.output;
}

TEST_F(FsckDamageTest, DuplicateNamesAreReported) {
  const FsckResult result = CheckBlockChange(0, [](std::vector<uint8_t>& block) {
    uint8_t* e5 = NextEntry(FirstEntry(block));
    e5[ie::kName] = 'D';
    e5[ie::kName + 2] = '4';
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("entry \"D4\" duplicates \"d4\"")) << result.output;
}

TEST_F(FsckDamageTest, EntryNamingAnotherParentIsReported) {
  const FsckResult result = CheckBlockChange(
      1, [](std::vector<uint8_t>& block) { PutLE32(FirstEntry(block) + ie::kKey, 7); });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("entry \"a1\" names parent 7")) << result.output;
}

TEST_F(FsckDamageTest, EntryNamingARecordBeyondTheMftIsReported) {
  const FsckResult result = CheckBlockChange(
      1, [](std::vector<uint8_t>& block) { PutLE32(FirstEntry(block) + ie::kReference, 100000); });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("entry \"a1\" names record 100000 beyond the MFT (64 records)"))
      << result.output;
}

TEST_F(FsckDamageTest, RecordListedTwiceIsReported) {
  const FsckResult result = CheckBlockChange(1, [this](std::vector<uint8_t>& block) {
    PutLE32(NextEntry(FirstEntry(block)) + ie::kReference, files_[0]);  // b2 names a1's record
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("entry \"b2\" names record " + std::to_string(files_[0]) +
                         ", which is already reached"))
      << result.output;
  EXPECT_TRUE(result.Has(Record(files_[1]) + "in use but unreachable")) << result.output;
}

TEST_F(FsckDamageTest, NameBreakingTheRulesIsReported) {
  const FsckResult result = CheckBlockChange(1, [](std::vector<uint8_t>& block) {
    FirstEntry(block)[ie::kName] = '-';  // "-1" sorts before "b2" still
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("entry \"-1\" breaks the name rules")) << result.output;
}

TEST_F(FsckDamageTest, IndexBlockWithoutMagicIsReported) {
  FsckVolume v = Volume();
  v.bytes()[v.IndexBlockOffset(docs_, 1)] = 'X';
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(
      result.Has("directory " + std::to_string(docs_) + ": index block VCN 1 has no INDX magic"))
      << result.output;
}

TEST_F(FsckDamageTest, IndexBlockFailingItsFixupsIsReported) {
  FsckVolume v = Volume();
  v.bytes()[v.IndexBlockOffset(docs_, 0) + 1022] ^= 0xFF;
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("index block VCN 0 fails its update sequence check")) << result.output;
}

TEST_F(FsckDamageTest, IndexBlockWithAWrongOwnVcnIsReported) {
  const FsckResult result = CheckBlockChange(
      1, [](std::vector<uint8_t>& block) { PutLE64(block.data() + indx::kVcn, 3); });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("index block VCN 1 records VCN 3 in its header")) << result.output;
}

TEST_F(FsckDamageTest, IndexBitmapMustMarkExactlyTheReachableBlocks) {
  auto setBitmap = [](uint8_t value) {
    return [value](std::vector<uint8_t>& image, uint32_t size) {
      uint8_t* a = FindAttributeInRecord(image.data(), size, AT_BITMAP);
      AttrValue(a)[0] = value;
    };
  };
  const FsckResult clear = CheckRecordChange(docs_, setBitmap(0x01));
  EXPECT_EQ(clear.exitCode, 1);
  EXPECT_TRUE(clear.Has("index block VCN 1 is in use but its bitmap bit is clear")) << clear.output;
  const FsckResult extra = CheckRecordChange(docs_, setBitmap(0x07));
  EXPECT_EQ(extra.exitCode, 1);
  EXPECT_TRUE(extra.Has("1 index blocks marked in use but not reachable (first VCNs: 2)"))
      << extra.output;
}

TEST_F(FsckDamageTest, IndexBitmapOfTheWrongLengthIsReported) {
  const FsckResult result =
      CheckRecordChange(docs_, [](std::vector<uint8_t>& image, uint32_t size) {
        SetAttrValueLength(FindAttributeInRecord(image.data(), size, AT_BITMAP), 0);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has("index bitmap is 0 bytes, expected 1 for 4 blocks")) << result.output;
}

// --- attribute lists and extension records ------------------------------------

class FsckExtensionTest : public FsckDamageTest {
 protected:
  void SetUp() override {
    FsckDamageTest::SetUp();
    FsckVolume v = Volume();
    extension_ = v.MoveToExtension(alpha_, AT_DATA);
    v.Save(path_);
  }

  // Rewrites alpha's attribute list value after `change` edited it.
  template <typename Change>
  FsckResult CheckListChange(Change change) {
    return CheckRecordChange(alpha_, [change](std::vector<uint8_t>& image, uint32_t size) {
      uint8_t* list = FindAttributeInRecord(image.data(), size, AT_ATTRIBUTE_LIST);
      change(AttrValue(list), AttrValueLength(list));
    });
  }

  uint32_t extension_ = 0;
};

TEST_F(FsckExtensionTest, ValueHeldInAnExtensionRecordIsClean) {
  const FsckResult result = RunFsck(path_, "-v");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_TRUE(result.Has("records in use: 21")) << result.output;
  EXPECT_TRUE(result.Has("file data bytes: 5500")) << result.output;
}

TEST_F(FsckExtensionTest, ExtensionOfAnotherBaseIsNotTakenIn) {
  const FsckResult result =
      CheckRecordChange(extension_, [this](std::vector<uint8_t>& image, uint32_t) {
        SetRecordBaseReference(image.data(), beta_);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "attribute list names record " +
                         std::to_string(extension_) + ", whose base record is " +
                         std::to_string(beta_)))
      << result.output;
  EXPECT_TRUE(result.Has(Record(extension_) + "in use but unreachable")) << result.output;
}

TEST_F(FsckExtensionTest, ExtensionWhoseBitIsClearIsReported) {
  FsckVolume v = Volume();
  v.SetRecordBit(extension_, false);
  const FsckResult result = Check(v);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(extension_) + "reachable but not marked in use in the MFT bitmap"))
      << result.output;
}

TEST_F(FsckExtensionTest, ListNamingARecordBeyondTheMftIsReported) {
  const FsckResult result = CheckListChange([](uint8_t* list, uint32_t length) {
    PutLE32(list + length - kAttributeListEntrySize + 0x10, 5000);
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(
      result.Has(Record(alpha_) + "attribute list names record 5000 beyond the MFT (64 records)"))
      << result.output;
}

TEST_F(FsckExtensionTest, ListNamingAnInstanceTheRecordLacksIsReported) {
  const FsckResult result = CheckListChange([](uint8_t* list, uint32_t length) {
    PutLE32(list + length - kAttributeListEntrySize, AT_EA);
  });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) +
                         "attribute list names attribute 0xE0 at VCN 0 in record " +
                         std::to_string(extension_) + ", which does not hold it"))
      << result.output;
}

TEST_F(FsckExtensionTest, MalformedListIsReported) {
  const FsckResult result =
      CheckListChange([](uint8_t* list, uint32_t) { PutLE16(list + 0x04, 5); });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "attribute list is malformed at byte 0"))
      << result.output;
}

TEST_F(FsckExtensionTest, InstanceNotStartingWhereTheValueNeedsItIsReported) {
  const FsckResult result =
      CheckRecordChange(extension_, [](std::vector<uint8_t>& image, uint32_t size) {
        SetAttrFirstVcn(FindAttributeInRecord(image.data(), size, AT_DATA), 3);
      });
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(Record(alpha_) + "attribute 0x80 instance in record " +
                         std::to_string(extension_) + " starts at VCN 3, not at VCN 0"))
      << result.output;
}

// ---------------------------------------------------------------------------
// Images that cannot be read at all.

class FsckUnreadableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("base.img");
    Format(path_, "--size 8M");
    bytes_ = LoadImage(path_);
  }

  FsckResult CheckBytes(const std::vector<uint8_t>& bytes) {
    const std::string copy = dir_.File("copy.img");
    StoreImage(copy, bytes);
    return RunFsck(copy);
  }

  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> bytes_;
};

TEST_F(FsckUnreadableTest, ImageTooShortForTheBootSector) {
  const FsckResult result = CheckBytes(std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + 100));
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.Has("boot sector: cannot be read")) << result.output;
  EXPECT_EQ(CheckBytes({}).exitCode, 2);
}

TEST_F(FsckUnreadableTest, ImageEndingBeforeRecordZero) {
  const FsckResult result = CheckBytes(std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + 4096));
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.Has("MFT: record 0 cannot be read at LCN 1")) << result.output;
}

TEST_F(FsckUnreadableTest, ImageShorterThanTheVolumeIsCheckedAsFarAsItGoes) {
  const FsckResult result =
      CheckBytes(std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + (1 << 20)));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Has(
      "boot sector: 16384 sectors (8388608 bytes) reach beyond the image (1048576 bytes)"))
      << result.output;
}

TEST_F(FsckUnreadableTest, GarbageBootSector) {
  std::vector<uint8_t> bytes = bytes_;
  for (int i = 0; i < 512; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  const FsckResult result = CheckBytes(bytes);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.Has("boot sector: identifier is not \"")) << result.output;
}

TEST_F(FsckUnreadableTest, ImpossibleGeometry) {
  struct Case {
    uint32_t offset;
    std::vector<uint8_t> value;
    const char* line;
  };
  const Case cases[] = {
      {0x0B, {0x00, 0x03}, "bytes per sector 768 is not a power of two"},
      {0x0B, {0x00, 0x00}, "bytes per sector 0 is not a power of two"},
      {0x0D, {0x00}, "sectors per cluster is 0"},
      {0x28, {0x00, 0x00, 0x00, 0x00}, "hold no whole cluster"},
      {0x30, {0x00, 0x10, 0x00, 0x00}, "MFT LCN 4096 lies outside the volume (2048 clusters)"},
      {0x40,
       {0x00, 0x00, 0x00, 0x00},
       "record size code 0 gives an unusable record size (0 bytes)"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = bytes_;
    std::copy(c.value.begin(), c.value.end(), bytes.begin() + c.offset);
    const FsckResult result = CheckBytes(bytes);
    EXPECT_EQ(result.exitCode, 2) << c.line << "\n" << result.output;
    EXPECT_TRUE(result.Has(c.line)) << c.line << "\n" << result.output;
  }
}

TEST_F(FsckUnreadableTest, RecordZeroWithoutMagicOrFixups) {
  std::vector<uint8_t> bytes = bytes_;
  bytes[4096] = 'X';  // record 0 at LCN 1
  FsckResult result = CheckBytes(bytes);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.Has("MFT: record 0 at LCN 1 has no FILE magic")) << result.output;
  bytes = bytes_;
  bytes[4096 + 510] ^= 0xFF;
  result = CheckBytes(bytes);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.Has("MFT: record 0 at LCN 1 fails its update sequence check"))
      << result.output;
}

TEST_F(FsckUnreadableTest, MissingImageAndBadCommandLines) {
  EXPECT_EQ(RunFsck(dir_.File("no-such.img")).exitCode, 2);
  EXPECT_EQ(RunFsck(path_, "-x").exitCode, 2);
  EXPECT_EQ(RunFsck(path_, "'" + path_ + "'").exitCode, 2);  // two images
}

// ---------------------------------------------------------------------------
// Damage anywhere in the metadata: problem lines or exit 2, never a crash
// (a signal, or under the sanitizers exit 86) and never a hang (the time
// limit of RunFsck turns one into exit 124). FSCK_FUZZ_ROUNDS multiplies
// the rounds for longer runs by hand.

int Rounds(int base) {
  const char* factor = std::getenv("FSCK_FUZZ_ROUNDS");
  return factor != nullptr && std::atoi(factor) > 0 ? base * std::atoi(factor) : base;
}

TEST_F(FsckDamageTest, RandomDamageToMetadataNeverCrashesOrHangs) {
  const FsckVolume clean = Volume();
  // The MFT's 64 records, the cluster bitmap and docs' index blocks.
  std::vector<std::pair<uint64_t, uint32_t>> areas = {
      {clean.RecordOffset(0), 64 * clean.recordSize()},
      {static_cast<uint64_t>(clean.Extents(record::kClusterBitmap, AT_DATA).at(0).lcn) *
           clean.clusterSize(),
       clean.clusterSize()},
      {clean.IndexBlockOffset(docs_, 0), 2 * clean.blockSize()},
      {clean.IndexBlockOffset(kRoot, 0), 2 * clean.blockSize()},
  };
  std::mt19937 random(20260102);
  for (int round = 0; round < Rounds(60); ++round) {
    FsckVolume v = Volume();
    const auto& [start, length] = areas[static_cast<size_t>(round) % areas.size()];
    const int flips = 1 + static_cast<int>(random() % 24);
    for (int i = 0; i < flips; ++i) {
      v.bytes()[start + random() % length] = static_cast<uint8_t>(random());
    }
    const FsckResult result = Check(v);
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1 || result.exitCode == 2)
        << "round " << round << " exit " << result.exitCode << "\n"
        << result.output << result.errors;
  }
}

TEST_F(FsckDamageTest, RandomDamageInsideRecordsAndBlocksPastTheirFixups) {
  // Damage applied to the in-memory images and written back with fresh
  // fix-ups, so the structure checks behind the fix-ups are what meets it.
  std::mt19937 random(7);
  std::vector<uint32_t> records = {0, kRoot, record::kClusterBitmap, alpha_, beta_, docs_, empty_};
  records.insert(records.end(), files_.begin(), files_.end());
  for (int round = 0; round < Rounds(80); ++round) {
    FsckVolume v = Volume();
    const int flips = 1 + static_cast<int>(random() % 8);
    if (round % 3 == 2) {
      const uint32_t block = random() % 2;
      std::vector<uint8_t> image = v.ReadIndexBlock(docs_, block);
      for (int i = 0; i < flips; ++i)
        image[0x18 + random() % (image.size() - 0x18)] = static_cast<uint8_t>(random());
      v.WriteIndexBlock(docs_, block, image);
    } else {
      const uint32_t n = records[random() % records.size()];
      std::vector<uint8_t> image = v.ReadRecord(n);
      for (int i = 0; i < flips; ++i)
        image[0x08 + random() % (image.size() - 0x08)] = static_cast<uint8_t>(random());
      PutLE16(image.data() + 0x04, 0x2C);  // keep the update sequence array where it was
      PutLE16(image.data() + 0x06, static_cast<uint16_t>(v.recordSize() / 512 + 1));
      v.WriteRecord(n, image);
    }
    const FsckResult result = Check(v);
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 1 || result.exitCode == 2)
        << "round " << round << " exit " << result.exitCode << "\n"
        << result.output << result.errors;
  }
}

}  // namespace
}  // namespace vrax::fsck_test
