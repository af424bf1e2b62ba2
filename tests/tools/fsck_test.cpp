// vrax-fsck driven through its binary: clean volumes, a populated volume,
// one case of each kind of damage it must name, images it cannot read at
// all, and damaged images that must never crash or hang it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
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
// Clean volumes: the geometries that change how records and clusters map.

TEST(FsckCleanVolume, FreshVolumesHaveNoProblems) {
  for (const char* options : {"", "--cluster-size 512", "--sector-size 4096"}) {
    TempDir dir;
    const std::string image = dir.File("fresh.img");
    Format(image, std::string("--size 8M ") + options);
    const FsckResult result = RunFsck(image);
    EXPECT_EQ(result.exitCode, 0) << options << "\n" << result.output;
    EXPECT_TRUE(result.output.empty()) << options << "\n" << result.output;
  }
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

// Other writers leave system records without a file descriptor; the engine
// reads that as "no restrictions", so it is no finding (a note with -v).
TEST(FsckCleanVolume, SystemRecordsWithoutDescriptorsAreClean) {
  TempDir dir;
  const std::string image = dir.File("bare.img");
  Format(image, "--size 8M");
  FsckVolume v(image);
  for (uint32_t n : {1u, 2u, 3u, 4u, 7u, 8u, 9u, 10u}) {
    std::vector<uint8_t> record = v.ReadRecord(n);
    uint8_t* descriptor = FindAttributeInRecord(record.data(), v.recordSize(), AT_OSK_FILEDES);
    if (descriptor == nullptr) continue;
    const uint32_t length = AttrLength(descriptor);
    const uint32_t tail = RecordBytesInUse(record.data()) -
                          static_cast<uint32_t>(descriptor - record.data()) - length;
    std::memmove(descriptor, descriptor + length, tail);
    PutLE32(record.data() + 0x18, RecordBytesInUse(record.data()) - length);
    SetRecordAttributeCount(record.data(),
                            static_cast<uint16_t>(RecordAttributeCount(record.data()) - 1));
    v.WriteRecord(n, record);
  }
  v.Save(image);
  EXPECT_EQ(RunFsck(image).exitCode, 0) << RunFsck(image).output;
  EXPECT_TRUE(RunFsck(image, "-v").Has("note: record 1: no file descriptor"));
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
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_TRUE(
      result.Has("cluster bitmap: 1 bits past the last cluster are clear (first: bit 2060)"))
      << result.output;
}

// ---------------------------------------------------------------------------
// A populated volume and damaged copies of it.
//
//   root:  alpha (5000 bytes), beta (empty), docs/
//   docs:  a1 b2 c3 d4 e5 (one cluster each), empty/; a two-level index:
//          block 0 (top) d4 e5 empty, d4's sub-node block 1 (VCN 1) a1 b2 c3

using RecordEdit = std::function<void(uint8_t* image, uint32_t size)>;
using BlockEdit = std::function<void(std::vector<uint8_t>& block)>;

// Rewrites record n after `change` edited its image.
void EditRecord(FsckVolume& v, uint32_t n, const RecordEdit& change) {
  std::vector<uint8_t> image = v.ReadRecord(n);
  change(image.data(), v.recordSize());
  v.WriteRecord(n, image);
}

// Rewrites index block `block` of directory n after `change` edited it.
void EditBlock(FsckVolume& v, uint32_t n, uint32_t block, const BlockEdit& change) {
  std::vector<uint8_t> image = v.ReadIndexBlock(n, block);
  change(image);
  v.WriteIndexBlock(n, block, image);
}

// Edits record n's first attribute of `type`.
std::function<void(FsckVolume&)> Attr(uint32_t n, uint32_t type,
                                      std::function<void(uint8_t* attribute)> change) {
  return [=](FsckVolume& v) {
    EditRecord(v, n, [&](uint8_t* image, uint32_t size) {
      change(FindAttributeInRecord(image, size, type));
    });
  };
}

// The first named entry of an index block.
uint8_t* FirstEntry(std::vector<uint8_t>& block) {
  return block.data() + BlockEntriesStart(block.data());
}

uint8_t* NextEntry(uint8_t* e) { return e + EntryLength(e); }

// One kind of damage and the problem lines it must produce.
struct Damage {
  std::string what;
  std::function<void(FsckVolume&)> apply;
  std::vector<std::string> lines;
  bool alone = false;       // the problem must be the only line
  bool repairable = false;  // --repair must leave the volume clean
};

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
    std::vector<IndexName> inDocs;
    for (const char* name : {"a1", "b2", "c3", "d4", "e5"}) {
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

  // Each damage is reported; --repair then mends the repairable ones (exit
  // 1, and the volume checks clean) and leaves the others (exit 4).
  void CheckAll(const std::vector<Damage>& cases) {
    for (const Damage& c : cases) {
      FsckVolume v = Volume();
      c.apply(v);
      const FsckResult result = Check(v);
      EXPECT_EQ(result.exitCode, 4) << c.what << "\n" << result.output << result.errors;
      for (const std::string& line : c.lines)
        EXPECT_TRUE(result.Has(line)) << c.what << ": " << line << "\n" << result.output;
      if (c.alone) {
        EXPECT_EQ(result.lines.size(), 1u) << c.what << "\n" << result.output;
      }
      const std::string copy = LastCopy();
      const FsckResult repair = RunFsck(copy, "--repair");
      EXPECT_EQ(repair.exitCode, c.repairable ? 1 : 4) << c.what << "\n" << repair.output;
      if (repair.exitCode == 1) {
        EXPECT_EQ(RunFsck(copy).exitCode, 0) << c.what << "\n" << RunFsck(copy).output;
      }
    }
  }

  // Checks a damaged volume and repairs it: neither may crash or hang; a
  // repair that reports success leaves the volume clean.
  void CheckAndRepair(FsckVolume& v, int round) {
    const FsckResult result = Check(v);
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 4 || result.exitCode == 2)
        << "round " << round << " exit " << result.exitCode << "\n"
        << result.output << result.errors;
    const FsckResult repair = RunFsck(LastCopy(), "--repair");
    EXPECT_TRUE(repair.exitCode == 0 || repair.exitCode == 1 || repair.exitCode == 2 ||
                repair.exitCode == 4)
        << "round " << round << " repair exit " << repair.exitCode << "\n"
        << repair.output << repair.errors;
    if (repair.exitCode == 1) {
      const FsckResult after = RunFsck(LastCopy());
      EXPECT_EQ(after.exitCode, 0) << "round " << round << "\n" << repair.output << after.output;
    }
  }

  std::string LastCopy() const { return dir_.File("damaged-" + std::to_string(copies_) + ".img"); }

  std::string Record(uint32_t n) const { return "record " + std::to_string(n) + ": "; }
  std::string N(uint32_t n) const { return std::to_string(n); }

  TempDir dir_;
  std::string path_;
  int copies_ = 0;
  uint32_t alpha_ = 0, beta_ = 0, docs_ = 0, empty_ = 0;
  std::vector<uint32_t> files_;  // a1 .. e5
};

TEST_F(FsckDamageTest, PopulatedVolumeIsCleanAndLeftUnchanged) {
  const std::vector<uint8_t> before = LoadImage(path_);
  const FsckResult result = RunFsck(path_, "-v");
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.lines.size(), 5u) << result.output;
  EXPECT_TRUE(result.Has("records in use: 20")) << result.output;
  EXPECT_TRUE(result.Has("directories: 3")) << result.output;
  EXPECT_TRUE(result.Has("files: 7")) << result.output;
  EXPECT_TRUE(result.Has("file data bytes: 5500")) << result.output;
  EXPECT_TRUE(result.Has("free clusters: ")) << result.output;
  EXPECT_EQ(LoadImage(path_), before);
}

TEST_F(FsckDamageTest, ClusterDamage) {
  const uint32_t a1 = files_[0], b2 = files_[1];
  const uint32_t last = Volume().clusterCount() - 1;
  const uint32_t alphaLcn = Volume().Extents(alpha_, AT_DATA).at(0).lcn;
  const uint32_t a1Lcn = Volume().Extents(a1, AT_DATA).at(0).lcn;
  CheckAll({
      {"leaked cluster",
       [&](FsckVolume& v) { v.SetClusterBit(last, true); },
       {"cluster bitmap: 1 clusters marked in use but used by no record (first: " + N(last) +
        ")"},
       true, true},
      {"used cluster not marked",
       [&](FsckVolume& v) { v.SetClusterBit(alphaLcn, false); },
       {"cluster bitmap: 1 clusters used but not marked in use (first: " + N(alphaLcn) + ")"},
       true, true},
      {"boot cluster not marked",
       [](FsckVolume& v) { v.SetClusterBit(0, false); },
       {"clusters used but not marked in use (first: 0)"}, false, true},
      {"cluster used twice",
       [&](FsckVolume& v) { v.SetRuns(b2, AT_DATA, v.Extents(a1, AT_DATA)); },
       {"cluster " + N(a1Lcn) + " used by record " + N(a1) + " (attribute 0x80) and by record " +
            N(b2) + " (attribute 0x80)",
        // b2's own cluster is now marked but used by nothing.
        "clusters marked in use but used by no record"}},
      {"run leaving the volume",
       [&](FsckVolume& v) { v.SetRuns(alpha_, AT_DATA, {{v.clusterCount() - 1, 2}}); },
       {Record(alpha_) + "attribute 0x80 run list leaves the volume"}},
      {"run offset of eight bytes",
       [&](FsckVolume& v) {
         std::vector<uint8_t> image = v.ReadRecord(alpha_);
         const uint8_t* data = FindAttributeInRecord(image.data(), v.recordSize(), AT_DATA);
         std::vector<uint8_t> attribute(data, data + AttrRunListOffset(data));
         // 2 clusters at LCN 18, then 2 at an offset of 0x7FFF...FF from
         // there, then the terminator.
         const uint8_t run[] = {0x11, 0x02, 0x12, 0x81, 0x02, 0xFF, 0xFF, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};
         attribute.insert(attribute.end(), std::begin(run), std::end(run));
         SetAttrLength(attribute.data(), static_cast<uint32_t>(attribute.size()));
         v.ReplaceAttribute(alpha_, AT_DATA, attribute);
       },
       {Record(alpha_) +
        "attribute 0x80 run list leaves the volume (a run offset of 9223372036854775807 "
        "clusters)"}},
      {"malformed run list",
       Attr(alpha_, AT_DATA,
            [](uint8_t* data) {
              data[AttrRunListOffset(data)] = 0x01;  // a run without offset bytes
            }),
       {Record(alpha_) + "attribute 0x80 run list is malformed"}},
  });
}

TEST_F(FsckDamageTest, RecordDamage) {
  const uint32_t c3 = files_[2];
  CheckAll({
      {"reachable record not marked",
       [&](FsckVolume& v) { v.SetRecordBit(c3, false); },
       {Record(c3) + "reachable but not marked in use in the MFT bitmap"},
       true, true},
      {"unreachable record",
       [&](FsckVolume& v) { v.WriteFile(v.NewRecord(), kRoot, "ghost", 100); },
       // Its cluster is used by nothing reachable: a leak as well.
       {"leak: " + Record(empty_ + 1) + "in use but unreachable",
        "leak: cluster bitmap: 1 clusters marked in use but used by no record"},
       false, true},
      {"record bitmap length",
       Attr(0, AT_BITMAP,
            [](uint8_t* bitmap) {
              SetAttrValueLength(bitmap, static_cast<uint16_t>(AttrValueLength(bitmap) - 2));
            }),
       {"MFT: record bitmap is 6 bytes, expected 8 for 64 records"}},
      {"no magic",
       [&](FsckVolume& v) { v.bytes()[v.RecordOffset(beta_)] = 'X'; },
       {Record(beta_) + "no FILE magic"}},
      {"fix-ups",
       [&](FsckVolume& v) { v.bytes()[v.RecordOffset(alpha_) + 510] ^= 0xFF; },
       {Record(alpha_) + "update sequence check fails"}},
      {"attribute outside the record",
       Attr(beta_, AT_FILE_NAME, [](uint8_t* a) { SetAttrLength(a, 0x10000); }),
       {Record(beta_) + "attribute 2 runs outside the record"}},
      {"attribute count",
       [&](FsckVolume& v) {
         EditRecord(v, beta_, [](uint8_t* image, uint32_t) {
           SetRecordAttributeCount(image, static_cast<uint16_t>(RecordAttributeCount(image) + 1));
         });
       },
       {Record(beta_) + "attribute count 6 but 5 attributes"}},
      {"descriptor size",
       Attr(alpha_, AT_OSK_FILEDES, [](uint8_t* a) { SetDescriptorSize(AttrValue(a), 1234); }),
       {Record(alpha_) + "descriptor size 1234 differs from the data size 5000"}, true, true},
      {"descriptor length",
       Attr(alpha_, AT_OSK_FILEDES, [](uint8_t* a) { SetAttrValueLength(a, 18); }),
       {Record(alpha_) + "file descriptor is 18 bytes, not 20"}},
      {"directory without the descriptor bit",
       Attr(docs_, AT_OSK_FILEDES, [](uint8_t* a) { AttrValue(a)[0] &= 0x7F; }),
       {Record(docs_) + "directory flag 0x0002 is set but descriptor bit 0x80 is clear"}},
      {"file with the descriptor bit",
       Attr(beta_, AT_OSK_FILEDES, [](uint8_t* a) { AttrValue(a)[0] |= 0x80; }),
       {Record(beta_) + "descriptor bit 0x80 is set but the directory flag 0x0002 is clear"}},
      {"file name parent",
       Attr(files_[0], AT_FILE_NAME, [](uint8_t* a) { PutLE32(AttrValue(a), kRoot); }),
       {Record(files_[0]) + "file name gives parent 5, but directory " + N(docs_) + " lists it"},
       false, true},
      {"sizes against the runs",
       Attr(alpha_, AT_DATA,
            [](uint8_t* data) {
              SetAttrAllocatedSize(data, AttrAllocatedSize(data) + 4096);
              SetAttrDataSize(data, 9000);
              SetAttrInitializedSize(data, 9000);
            }),
       {Record(alpha_) + "attribute 0x80 allocated size 12288 but its runs hold 2 clusters",
        Record(alpha_) + "attribute 0x80 data size 9000 exceeds the 8192 bytes its runs hold"}},
  });
}

TEST_F(FsckDamageTest, IndexDamage) {
  auto block = [this](uint32_t n, BlockEdit change) {
    return [this, n, change](FsckVolume& v) { EditBlock(v, docs_, n, change); };
  };
  auto indexBitmap = [this](uint8_t value) {
    return Attr(docs_, AT_BITMAP, [value](uint8_t* a) { AttrValue(a)[0] = value; });
  };
  CheckAll({
      {"sub-node pointing at its own block",
       block(0, [](std::vector<uint8_t>& b) { SetEntrySubNode(FirstEntry(b), 0); }),
       {"directory " + N(docs_) +
            ": index block VCN 0: sub-node VCN 0 leads to a block already reached",
        // The child block is cut off, and with it the names it holds.
        "index blocks marked in use but not reachable",
        Record(files_[0]) + "in use but unreachable"}},
      {"sub-node beyond the allocation",
       block(0, [](std::vector<uint8_t>& b) { SetEntrySubNode(FirstEntry(b), 400); }),
       {"index block VCN 0: sub-node VCN 400 lies beyond the index allocation (4 blocks)"}},
      {"out of order",
       block(0,
             [](std::vector<uint8_t>& b) {
               uint8_t* e5 = NextEntry(FirstEntry(b));
               ASSERT_EQ(EntryNameChar(e5, 0), 'e');
               e5[ie::kName] = 'a';
             }),
       {"entry \"a5\" is out of order after \"d4\"",
        Record(files_[4]) + "file name \"e5\" differs from its index entry \"a5\""}},
      {"duplicate",
       block(0,
             [](std::vector<uint8_t>& b) {
               uint8_t* e5 = NextEntry(FirstEntry(b));
               e5[ie::kName] = 'D';
               e5[ie::kName + 2] = '4';
             }),
       {"entry \"D4\" duplicates \"d4\""}},
      {"another parent",
       block(1, [](std::vector<uint8_t>& b) { PutLE32(FirstEntry(b) + ie::kKey, 7); }),
       {"entry \"a1\" names parent 7"}},
      {"record beyond the MFT",
       block(1, [](std::vector<uint8_t>& b) { PutLE32(FirstEntry(b) + ie::kReference, 100000); }),
       {"entry \"a1\" names record 100000 beyond the MFT (64 records)"},
       false, true},
      {"record listed twice",
       block(1,
             [a1 = files_[0]](std::vector<uint8_t>& b) {
               PutLE32(NextEntry(FirstEntry(b)) + ie::kReference, a1);  // b2 names a1's record
             }),
       {"entry \"b2\" names record " + N(files_[0]) + ", which is already reached",
        Record(files_[1]) + "in use but unreachable"},
       false, true},
      {"record listed twice, its own name second",
       block(1,
             [b2 = files_[1]](std::vector<uint8_t>& b) {
               PutLE32(FirstEntry(b) + ie::kReference, b2);  // a1 names b2's record
             }),
       {"entry \"b2\" names record " + N(files_[1]) + ", which is already reached",
        Record(files_[1]) + "file name \"b2\" differs from its index entry \"a1\"",
        Record(files_[0]) + "in use but unreachable"},
       false, true},
      {"name rules",
       block(1, [](std::vector<uint8_t>& b) { FirstEntry(b)[ie::kName] = '-'; }),
       {"entry \"-1\" breaks the name rules"},
       false, true},
      {"block without magic",
       [&](FsckVolume& v) { v.bytes()[v.IndexBlockOffset(docs_, 1)] = 'X'; },
       {"directory " + N(docs_) + ": index block VCN 1 has no INDX magic"}},
      {"block fix-ups",
       [&](FsckVolume& v) { v.bytes()[v.IndexBlockOffset(docs_, 0) + 1022] ^= 0xFF; },
       {"index block VCN 0 fails its update sequence check"}},
      {"block's own VCN",
       block(1, [](std::vector<uint8_t>& b) { PutLE64(b.data() + indx::kVcn, 3); }),
       {"index block VCN 1 records VCN 3 in its header"}},
      {"index bitmap bit clear",
       indexBitmap(0x01),
       {"index block VCN 1 is in use but its bitmap bit is clear"},
       false, true},
      {"index bitmap bit extra",
       indexBitmap(0x07),
       {"1 index blocks marked in use but not reachable (first VCNs: 2)"},
       false, true},
      {"index bitmap length",
       Attr(docs_, AT_BITMAP, [](uint8_t* a) { SetAttrValueLength(a, 0); }),
       {"index bitmap is 0 bytes, expected 1 for 4 blocks"},
       false, true},
      {"index bitmap longer than its blocks",
       Attr(docs_, AT_BITMAP, [](uint8_t* a) { SetAttrValueLength(a, 2); }),  // its room is even
       {"leak: directory " + N(docs_) + ": index bitmap is 2 bytes, expected 1 for 4 blocks"},
       true, true},
      {"no index root",
       Attr(docs_, AT_INDEX_ROOT, [](uint8_t* a) { PutLE32(a, AT_EA); }),
       {"directory " + N(docs_) + ": no index root"}},
  });
}

// alpha's data moved to an extension record named by an attribute list.
TEST_F(FsckDamageTest, AttributeListDamage) {
  FsckVolume base = Volume();
  const uint32_t extension = base.MoveToExtension(alpha_, AT_DATA);
  base.Save(path_);
  const FsckResult clean = RunFsck(path_, "-v");
  EXPECT_EQ(clean.exitCode, 0) << clean.output;
  EXPECT_TRUE(clean.Has("records in use: 21")) << clean.output;
  EXPECT_TRUE(clean.Has("file data bytes: 5500")) << clean.output;

  auto list = [this](std::function<void(uint8_t*, uint32_t)> change) {
    return Attr(alpha_, AT_ATTRIBUTE_LIST,
                [change](uint8_t* a) { change(AttrValue(a), AttrValueLength(a)); });
  };
  CheckAll({
      {"extension of another base",
       [&](FsckVolume& v) {
         EditRecord(v, extension,
                    [this](uint8_t* image, uint32_t) { SetRecordBaseReference(image, beta_); });
       },
       {Record(alpha_) + "attribute list names record " + N(extension) +
            ", whose base record is " + N(beta_),
        Record(extension) + "in use but unreachable"}},
      {"record beyond the MFT",
       list([](uint8_t* l, uint32_t length) {
         PutLE32(l + length - kAttributeListEntrySize + 0x10, 5000);
       }),
       {Record(alpha_) + "attribute list names record 5000 beyond the MFT (64 records)"}},
      {"instance the record lacks",
       list([](uint8_t* l, uint32_t length) { PutLE32(l + length - kAttributeListEntrySize, AT_EA); }),
       {Record(alpha_) + "attribute list names attribute 0xE0 at VCN 0 in record " +
        N(extension) + ", which does not hold it"}},
      {"malformed list",
       list([](uint8_t* l, uint32_t) { PutLE16(l + 0x04, 5); }),
       {Record(alpha_) + "attribute list is malformed at byte 0"}},
      {"instance at the wrong VCN",
       Attr(extension, AT_DATA, [](uint8_t* a) { SetAttrFirstVcn(a, 3); }),
       {Record(alpha_) + "attribute 0x80 instance in record " + N(extension) +
        " starts at VCN 3, not at VCN 0"}},
  });
}

// ---------------------------------------------------------------------------
// Images that cannot be read at all (exit 2), or only in part.

TEST(FsckUnreadable, BrokenImages) {
  TempDir dir;
  const std::string path = dir.File("base.img");
  Format(path, "--size 8M");
  const std::vector<uint8_t> clean = LoadImage(path);
  auto prefix = [&](size_t n) { return std::vector<uint8_t>(clean.begin(), clean.begin() + n); };
  auto patch = [&](size_t offset, std::vector<uint8_t> value) {
    std::vector<uint8_t> bytes = clean;
    std::copy(value.begin(), value.end(), bytes.begin() + offset);
    return bytes;
  };
  std::vector<uint8_t> garbage = clean;
  for (int i = 0; i < 512; ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  std::vector<uint8_t> fixups = clean;
  fixups[4096 + 510] ^= 0xFF;  // record 0 at LCN 1

  const struct {
    std::vector<uint8_t> bytes;
    int exitCode;
    std::string line;
  } cases[] = {
      {{}, 2, ""},
      {prefix(100), 2, "boot sector: cannot be read"},
      {prefix(4096), 2, "MFT: record 0 cannot be read at LCN 1"},
      {prefix(1 << 20), 4,
       "boot sector: 16384 sectors (8388608 bytes) reach beyond the image (1048576 bytes)"},
      {garbage, 2, "boot sector: identifier is not \""},
      {patch(0x0B, {0x00, 0x03}), 2, "bytes per sector 768 is not a power of two"},
      {patch(0x0D, {0x00}), 2, "sectors per cluster is 0"},
      {patch(0x28, {0, 0, 0, 0}), 2, "hold no whole cluster"},
      {patch(0x30, {0x00, 0x10, 0, 0}), 2, "MFT LCN 4096 lies outside the volume (2048 clusters)"},
      {patch(0x40, {0, 0, 0, 0}), 2, "record size code 0 gives an unusable record size (0 bytes)"},
      {patch(4096, {'X'}), 2, "MFT: record 0 at LCN 1 has no FILE magic"},
      {fixups, 2, "MFT: record 0 at LCN 1 fails its update sequence check"},
  };
  const std::string copy = dir.File("copy.img");
  for (const auto& c : cases) {
    StoreImage(copy, c.bytes);
    const FsckResult result = RunFsck(copy);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.line << "\n" << result.output;
    if (!c.line.empty()) {
      EXPECT_TRUE(result.Has(c.line)) << c.line << "\n" << result.output;
    }
  }
  EXPECT_EQ(RunFsck(dir.File("no-such.img")).exitCode, 2);
  EXPECT_EQ(RunFsck(path, "-x").exitCode, 2);
  EXPECT_EQ(RunFsck(path, "'" + path + "'").exitCode, 2);  // two images
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
    CheckAndRepair(v, round);
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
    CheckAndRepair(v, round);
  }
}

}  // namespace
}  // namespace vrax::fsck_test
