#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/image_toolkit.h"
#include "support/temp_file.h"
#include "volume/attributes/record_edit.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using test::CheckerResult;
using test::ImageBuilder;
using test::IndexShape;
using test::RunChecker;
using test::TempDir;

constexpr uint32_t kRoot = record::kRoot;

std::string N(uint32_t n) { return std::to_string(n); }
std::string Record(uint32_t n) { return "record " + N(n) + ": "; }

void FlipByte(ImageBuilder& v, uint64_t offset) {
  v.WriteBytes(offset, {static_cast<uint8_t>(v.ReadBytes(offset, 1)[0] ^ 0xFF)});
}

// The populated volume (2051 clusters: the bitmap has bits past the last):
//   root:  alpha (5000 bytes), beta (empty), docs/, gamma (6000 bytes, its
//          data in two extension records named by an attribute list)
//   docs:  a1 b2 c3 d4 e5 (one cluster each), empty/; a two-level index in
//          an allocation of 4 blocks: the top block holds d4 e5 empty, d4's
//          sub-node block a1 b2 c3

using Apply = std::function<void(ImageBuilder&)>;

Apply InRecord(uint32_t n, std::function<void(uint8_t* record)> change) {
  return [=](ImageBuilder& v) { v.PatchRecord(n, change); };
}
Apply Attr(uint32_t n, uint32_t type, std::function<void(uint8_t* attribute)> change) {
  return [=](ImageBuilder& v) {
    v.PatchRecord(n, [&](uint8_t* r) {
      change(test::RequireAttribute(r, v.geometry().recordSize, type));
    });
  };
}

uint8_t* FirstEntry(uint8_t* block) { return block + BlockEntriesStart(block); }
uint8_t* NextEntry(uint8_t* e) { return e + EntryLength(e); }

// One damage and the problem lines it must produce (exit 4).
struct Damage {
  std::string what;
  Apply apply;
  std::vector<std::string> lines;
  bool alone = false;       // the problem must be the only line
  bool repairable = false;  // --repair must leave the volume clean (exit 1)
};

class FsckDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("base.img");
    test::FormatImage(path_, "--size 8400896");
    ImageBuilder v(path_);
    alpha_ = v.AddFile(kRoot, "alpha", test::PatternBytes(5000), {{v.FindFreeClusters(2), 2}});
    beta_ = v.AddFile(kRoot, "beta", {});
    docs_ = v.AddDirectory(kRoot, "docs");
    std::vector<test::IndexName> inDocs;
    for (const char* name : {"a1", "b2", "c3", "d4", "e5"}) {
      files_.push_back(
          v.AddFile(docs_, name, test::PatternBytes(100), {{v.FindFreeClusters(1), 1}}));
      inDocs.push_back({name, files_.back()});
    }
    empty_ = v.AddDirectory(docs_, "empty");
    inDocs.push_back({"empty", empty_});
    docsIndex_ = v.BuildIndex(docs_, IndexShape::Leaf(3).With(0, IndexShape::Leaf(3)), inDocs,
                              {{v.FindFreeClusters(4), 4}});
    top_ = docsIndex_.topVcn;
    child_ = docsIndex_.blocks[0].vcn;
    const uint32_t g = v.FindFreeClusters(2);
    gamma_ = v.AddListFile(kRoot, "gamma", {{g, 1}}, {{g + 1, 1}}, test::PatternBytes(6000),
                           test::ListLayout::kFirstInExtension);
    rootIndex_ = v.LinkNames(kRoot, {{"alpha", alpha_}, {"beta", beta_}, {"docs", docs_},
                                     {"gamma", gamma_.base}});
    ghost_ = v.AllocateRecord();  // the next record the builder hands out
    v.SetRecordBit(ghost_, false);
  }

  std::string DamagedCopy(const Apply& apply) {
    const std::string copy = dir_.File("damaged-" + N(++copies_) + ".img");
    std::filesystem::copy_file(path_, copy);
    ImageBuilder v(copy);
    apply(v);
    return copy;
  }

  // --repair mends the repairable ones (exit 1, then clean), leaves the others (4).
  void CheckAll(const std::vector<Damage>& cases) {
    for (const Damage& c : cases) {
      SCOPED_TRACE(c.what);
      const std::string copy = DamagedCopy(c.apply);
      const CheckerResult result = RunChecker(copy, "");
      EXPECT_EQ(result.exitCode, 4) << result.output << result.errors;
      for (const std::string& line : c.lines)
        EXPECT_TRUE(result.Has(line)) << line << "\n" << result.output;
      EXPECT_TRUE(!c.alone || result.lines.size() == 1) << result.output;
      const CheckerResult repair = RunChecker(copy, "--repair");
      EXPECT_EQ(repair.exitCode, c.repairable ? 1 : 4) << repair.output;
      EXPECT_TRUE(repair.exitCode != 1 || RunChecker(copy, "").exitCode == 0) << repair.output;
    }
  }

  TempDir dir_;
  std::string path_;
  int copies_ = 0;
  uint32_t alpha_ = 0, beta_ = 0, docs_ = 0, empty_ = 0, ghost_ = 0;
  std::vector<uint32_t> files_;  // a1 .. e5
  test::ListFile gamma_;
  test::BuiltIndex docsIndex_, rootIndex_;
  uint32_t top_ = 0, child_ = 0;  // VCNs of docs' blocks
};

TEST_F(FsckDamageTest, PopulatedVolumeIsCleanAndLeftUnchanged) {
  const std::vector<uint8_t> before = test::ReadFileBytes(path_);
  const CheckerResult result = RunChecker(path_);
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(test::ReadFileBytes(path_), before);
  // Other writers leave system records without a file descriptor; the
  // engine reads that as "no restrictions", so it is no finding.
  const std::string bare = DamagedCopy([](ImageBuilder& v) {
    for (uint32_t n : {1u, 2u, 3u, 4u, 7u, 8u, 9u, 10u}) {
      v.PatchRecord(n, [&](uint8_t* r) {
        uint8_t* descriptor = FindAttributeInRecord(r, v.geometry().recordSize, AT_OSK_FILEDES);
        if (descriptor != nullptr) RemoveAttributeBytes(r, v.geometry().recordSize, descriptor);
      });
    }
  });
  EXPECT_EQ(RunChecker(bare, "").exitCode, 0) << RunChecker(bare, "").output;
}

TEST_F(FsckDamageTest, ClusterDamage) {
  const uint32_t a1 = files_[0], b2 = files_[1];
  ImageBuilder base(path_);
  const uint32_t last = base.geometry().clusterCount - 1;
  const uint32_t alphaLcn = base.Runs(alpha_, AT_DATA).at(0).lcn;
  const uint32_t a1Lcn = base.Runs(a1, AT_DATA).at(0).lcn;
  const std::string bitmap = "cluster bitmap: 1 clusters ";
  CheckAll({
      {"leaked cluster", [&](ImageBuilder& v) { v.SetClusterBit(last, true); },
       {bitmap + "marked in use but used by no record (first: " + N(last) + ")"}, true, true},
      {"bit past the last cluster clear",
       [&](ImageBuilder& v) { v.SetClusterBit(last + 9, false); },
       {"cluster bitmap: 1 bits past the last cluster are clear (first: bit " + N(last + 9) + ")"},
       true, true},
      {"used cluster not marked", [&](ImageBuilder& v) { v.SetClusterBit(alphaLcn, false); },
       {bitmap + "used but not marked in use (first: " + N(alphaLcn) + ")"}, true, true},
      {"cluster used twice",
       [&](ImageBuilder& v) { v.SetRuns(b2, AT_DATA, v.Runs(a1, AT_DATA)); },
       {"cluster " + N(a1Lcn) + " used by record " + N(a1) + " (attribute 0x80) and by record " +
        N(b2) + " (attribute 0x80)"}},
      {"run leaving the volume",
       [&](ImageBuilder& v) { v.SetRuns(alpha_, AT_DATA, {{last, 2}}); },
       {Record(alpha_) + "attribute 0x80 run list leaves the volume"}},
      {"malformed run list",  // a run without offset bytes
       Attr(alpha_, AT_DATA, [](uint8_t* data) { data[AttrRunListOffset(data)] = 0x01; }),
       {Record(alpha_) + "attribute 0x80 run list is malformed"}},
  });
}

TEST_F(FsckDamageTest, RecordDamage) {
  const uint32_t c3 = files_[2];
  CheckAll({
      {"reachable record not marked",
       [&](ImageBuilder& v) { v.SetRecordBit(c3, false); },
       {Record(c3) + "reachable but not marked in use in the MFT bitmap"},
       true, true},
      {"unreachable record",
       [](ImageBuilder& v) { v.AddFile(kRoot, "ghost", {9}, {{v.FindFreeClusters(1), 1}}); },
       {"leak: " + Record(ghost_) + "in use but unreachable"},
       false, true},
      {"record bitmap length", Attr(0, AT_BITMAP, [](uint8_t* a) { SetAttrValueLength(a, 6); }),
       {"MFT: record bitmap is 6 bytes, expected 8 for 64 records"}},
      {"no magic",
       [&](ImageBuilder& v) { v.WriteBytes(v.RecordOffset(beta_), {'X'}); },
       {Record(beta_) + "no FILE magic"}},
      {"fix-ups",
       [&](ImageBuilder& v) { FlipByte(v, v.RecordOffset(alpha_) + 510); },
       {Record(alpha_) + "update sequence check fails"}},
      {"attribute outside the record",
       Attr(beta_, AT_FILE_NAME, [](uint8_t* a) { SetAttrLength(a, 0x10000); }),
       {Record(beta_) + "attribute 2 runs outside the record"}},
      {"attribute count",
       InRecord(beta_, [](uint8_t* r) { SetRecordAttributeCount(r, 6); }),
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
  auto block = [this](uint32_t vcn, std::function<void(uint8_t*)> change) {
    return [this, vcn, change](ImageBuilder& v) { v.PatchIndexBlock(docsIndex_, vcn, change); };
  };
  const std::string blockAt = "directory " + N(docs_) + ": index block VCN ";
  CheckAll({
      {"sub-node pointing at its own block",
       block(top_, [this](uint8_t* b) { SetEntrySubNode(FirstEntry(b), top_); }),
       {blockAt + N(top_) + ": sub-node VCN " + N(top_) + " leads to a block already reached",
        "index blocks marked in use but not reachable"}},
      {"sub-node beyond the allocation",
       block(top_, [](uint8_t* b) { SetEntrySubNode(FirstEntry(b), 400); }),
       {blockAt + N(top_) + ": sub-node VCN 400 lies beyond the index allocation (4 blocks)"}},
      {"out of order",
       block(top_,
             [](uint8_t* b) {
               uint8_t* e5 = NextEntry(FirstEntry(b));
               ASSERT_EQ(EntryNameChar(e5, 0), 'e');
               e5[ie::kName] = 'a';
             }),
       {"entry \"a5\" is out of order after \"d4\"",
        Record(files_[4]) + "file name \"e5\" differs from its index entry \"a5\""}},
      {"duplicate",
       block(top_,
             [](uint8_t* b) {
               uint8_t* e5 = NextEntry(FirstEntry(b));
               e5[ie::kName] = 'D';
               e5[ie::kName + 2] = '4';
             }),
       {"entry \"D4\" duplicates \"d4\""}},
      {"another parent",
       block(child_, [](uint8_t* b) { PutLE32(FirstEntry(b) + ie::kKey, 7); }),
       {"entry \"a1\" names parent 7"}},
      {"record beyond the MFT",
       block(child_, [](uint8_t* b) { PutLE32(FirstEntry(b) + ie::kReference, 100000); }),
       {"entry \"a1\" names record 100000 beyond the MFT (64 records)"},
       false, true},
      {"record listed twice",  // b2 names a1's record
       block(child_, [a1 = files_[0]](uint8_t* b) { PutLE32(NextEntry(FirstEntry(b)), a1); }),
       {"entry \"b2\" names record " + N(files_[0]) + ", which is already reached"},
       false, true},
      {"name rules",
       block(child_, [](uint8_t* b) { FirstEntry(b)[ie::kName] = '-'; }),
       {"entry \"-1\" breaks the name rules"},
       false, true},
      {"block without magic",
       [&](ImageBuilder& v) { v.WriteBytes(v.IndexBlockOffset(docsIndex_, child_), {'X'}); },
       {blockAt + N(child_) + " has no INDX magic"}},
      {"block fix-ups",
       [&](ImageBuilder& v) { FlipByte(v, v.IndexBlockOffset(docsIndex_, top_) + 1022); },
       {"index block VCN " + N(top_) + " fails its update sequence check"}},
      {"block's own VCN",
       block(child_, [](uint8_t* b) { PutLE64(b + indx::kVcn, 3); }),
       {"index block VCN " + N(child_) + " records VCN 3 in its header"}},
      {"index bitmap bit clear",
       Attr(docs_, AT_BITMAP, [](uint8_t* a) { AttrValue(a)[0] = 0x01; }),
       {"index block VCN 1 is in use but its bitmap bit is clear"},
       false, true},
      {"index bitmap length",
       Attr(docs_, AT_BITMAP, [](uint8_t* a) { SetAttrValueLength(a, 0); }),
       {"index bitmap is 0 bytes, expected 1 for 4 blocks"},
       false, true},
      {"no index root",
       Attr(docs_, AT_INDEX_ROOT, [](uint8_t* a) { PutLE32(a, AT_EA); }),
       {"directory " + N(docs_) + ": no index root"}},
  });
}

TEST_F(FsckDamageTest, AttributeListDamage) {
  const uint32_t base = gamma_.base, first = gamma_.first, extension = gamma_.second;
  auto list = [base](std::function<void(uint8_t*, uint32_t)> change) {
    return Attr(base, AT_ATTRIBUTE_LIST,
                [change](uint8_t* a) { change(AttrValue(a), AttrValueLength(a)); });
  };
  CheckAll({
      {"extension of another base",
       InRecord(extension, [this](uint8_t* r) { SetRecordBaseReference(r, beta_); }),
       {Record(base) + "attribute list names record " + N(extension) + ", whose base record is " +
        N(beta_)}},
      {"record beyond the MFT",
       list([](uint8_t* l, uint32_t length) {
         PutLE32(l + length - kAttributeListEntrySize + 0x10, 5000);
       }),
       {Record(base) + "attribute list names record 5000 beyond the MFT (64 records)"}},
      {"instance the record lacks",
       list([](uint8_t* l, uint32_t) { PutLE32(l + 2 * kAttributeListEntrySize, AT_EA); }),
       {Record(base) + "attribute list names attribute 0xE0 at VCN 0 in record " + N(first) +
        ", which does not hold it"}},
      {"malformed list",
       list([](uint8_t* l, uint32_t) { PutLE16(l + 0x04, 5); }),
       {Record(base) + "attribute list is malformed at byte 0"}},
      {"instance at the wrong VCN",
       Attr(extension, AT_DATA, [](uint8_t* a) { SetAttrFirstVcn(a, 3); }),
       {Record(base) + "attribute 0x80 instance in record " + N(extension) +
        " starts at VCN 3, not at VCN 1"}},
  });
}

TEST(FsckUnreadable, BrokenImages) {
  TempDir dir;
  const std::string path = dir.File("base.img");
  test::FormatImage(path, "--size 8M");
  const std::vector<uint8_t> clean = test::ReadFileBytes(path);
  auto prefix = [&](size_t n) { return std::vector<uint8_t>(clean.begin(), clean.begin() + n); };
  auto patch = [&](size_t offset, std::vector<uint8_t> value) {
    std::vector<uint8_t> bytes = clean;
    std::copy(value.begin(), value.end(), bytes.begin() + offset);
    return bytes;
  };
  std::vector<uint8_t> garbage = clean;
  for (int i = 0; i < 512; ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);

  const struct {
    std::vector<uint8_t> bytes;
    int exitCode;
    std::string line;
  } cases[] = {
      {prefix(100), 2, "boot sector: cannot be read"},
      {prefix(4096), 2, "MFT: record 0 cannot be read at LCN 1"},
      {prefix(1 << 20), 4,
       "boot sector: 16384 sectors (8388608 bytes) reach beyond the image (1048576 bytes)"},
      {garbage, 2, "boot sector: identifier is not \""},
      {patch(0x0B, {0x00, 0x03}), 2, "bytes per sector 768 is not a power of two"},
      {patch(0x28, {0, 0, 0, 0}), 2, "hold no whole cluster"},
      {patch(4096, {'X'}), 2, "MFT: record 0 at LCN 1 has no FILE magic"},
      {patch(4096 + 510, {static_cast<uint8_t>(clean[4096 + 510] ^ 0xFF)}), 2,
       "MFT: record 0 at LCN 1 fails its update sequence check"},
  };
  const std::string copy = dir.File("copy.img");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    test::WriteFileBytes(copy, c.bytes);
    const CheckerResult result = RunChecker(copy, "");
    EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
    EXPECT_TRUE(result.Has(c.line)) << result.output;
  }
  EXPECT_EQ(RunChecker(dir.File("no-such.img"), "").exitCode, 2);
  EXPECT_EQ(RunChecker(path, "-x").exitCode, 2);
  EXPECT_EQ(RunChecker(path, "'" + path + "'").exitCode, 2);  // two images
}

// Random damage gives findings or exit 2, never a crash (a signal, or exit
// 86 under the sanitizers) or a hang (exit 124); a repair reporting success
// leaves the volume clean. Even rounds write raw bytes (mostly met by the
// fix-up checks); odd rounds edit an image in memory and write it back with
// fresh fix-ups, so the structure checks meet it.
TEST_F(FsckDamageTest, RandomDamageToMetadataNeverCrashesOrHangs) {
  ImageBuilder clean(path_);
  const test::ImageGeometry& g = clean.geometry();
  const uint32_t R = g.recordSize, B = g.indexBlockSize;
  const std::vector<std::pair<uint64_t, uint32_t>> areas = {
      {clean.RecordOffset(0), 64 * R},
      {clean.ClusterOffset(clean.Runs(record::kClusterBitmap, AT_DATA).at(0).lcn), g.clusterSize},
      {clean.IndexBlockOffset(docsIndex_, 0), 2 * B},
      {clean.IndexBlockOffset(rootIndex_, 0), B},
  };
  std::vector<uint32_t> records = {0, kRoot, record::kClusterBitmap, alpha_, beta_, docs_, empty_};
  records.insert(records.end(), files_.begin(), files_.end());
  std::mt19937 random(20260102);
  for (int round = 0; round < 140; ++round) {
    SCOPED_TRACE("round " + N(round));
    const int flips = 1 + static_cast<int>(random() % 16);
    const std::string copy = DamagedCopy([&](ImageBuilder& v) {
      if (round % 2 == 0) {
        const auto& [start, length] = areas[static_cast<size_t>(round / 2) % areas.size()];
        for (int i = 0; i < flips; ++i)
          v.WriteBytes(start + random() % length, {static_cast<uint8_t>(random())});
      } else if (round % 6 == 5) {
        v.PatchIndexBlock(docsIndex_, random() % 2, [&](uint8_t* b) {
          for (int i = 0; i < flips; ++i)
            b[0x18 + random() % (B - 0x18)] = static_cast<uint8_t>(random());
        });
      } else {
        v.PatchRecord(records[random() % records.size()], [&](uint8_t* r) {
          for (int i = 0; i < flips; ++i)
            r[0x08 + random() % (R - 0x08)] = static_cast<uint8_t>(random());
          PutLE16(r + 0x04, 0x2C);  // keep the update sequence array where it was
          PutLE16(r + 0x06, static_cast<uint16_t>(R / 512 + 1));
        });
      }
    });
    const CheckerResult result = RunChecker(copy, "");
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 4 || result.exitCode == 2)
        << "exit " << result.exitCode << "\n" << result.output << result.errors;
    const CheckerResult repair = RunChecker(copy, "--repair");
    EXPECT_TRUE(repair.exitCode >= 0 && repair.exitCode <= 4 && repair.exitCode != 3)
        << "repair exit " << repair.exitCode << "\n" << repair.output << repair.errors;
    EXPECT_TRUE(repair.exitCode != 1 || RunChecker(copy, "").exitCode == 0) << repair.output;
  }
}

}  // namespace
}  // namespace vrax
