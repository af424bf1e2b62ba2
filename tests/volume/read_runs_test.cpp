// Reading file data held in scattered runs: one run list whose runs jump
// back below earlier ones (negative run offsets), and a value whose runs
// continue in extension records named by an attribute list. Every read is
// checked against the bytes written, at every cluster, sector and run
// boundary, with partial sectors at both ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/image_builder.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using test::ClusterRun;
using test::ImageBuilder;
using test::ListFile;
using test::ListLayout;

struct Geometry {
  const char* label;
  const char* mkfs;
};

// 4 sectors per cluster, 8 sectors per cluster, and 4096-byte sectors with
// 2 sectors per cluster.
const Geometry kGeometries[] = {
    {"Sector512Cluster2K", "--size 8M --cluster-size 2048"},
    {"Sector512Cluster4K", "--size 8M"},
    {"Sector4KCluster8K", "--size 16M --sector-size 4096 --cluster-size 8192"},
};

void PrintTo(const Geometry& g, std::ostream* os) { *os << g.label; }

constexpr uint8_t kUntouched = 0xA5;

// Offsets worth reading at: both sides of every boundary in `edges`, one
// sector either side, and past the end.
std::vector<uint32_t> InterestingOffsets(const std::vector<uint32_t>& edges, uint32_t S,
                                         uint32_t size) {
  std::set<uint32_t> offsets;
  for (uint32_t e : edges) {
    const int64_t s = S;
    for (int64_t d : {-s - 1, -s, int64_t{-1}, int64_t{0}, int64_t{1}, s - 1, s, s + 1}) {
      const int64_t o = static_cast<int64_t>(e) + d;
      if (o >= 0 && o <= static_cast<int64_t>(size) + S) offsets.insert(static_cast<uint32_t>(o));
    }
  }
  return {offsets.begin(), offsets.end()};
}

// Reads `count` bytes at `offset` and compares with `content`: the bytes
// up to the value's end arrive, nothing beyond them is written.
std::string CheckRead(Toolkit* t, const std::vector<uint8_t>& content, uint32_t offset,
                      uint32_t count) {
  std::vector<uint8_t> buffer(count + 16, kUntouched);
  uint32_t done = 0;
  const int32_t error = FileRead(t, offset, count, buffer.data(), done);
  const uint32_t size = static_cast<uint32_t>(content.size());
  const uint32_t expected = offset >= size ? 0 : std::min(count, size - offset);
  std::string where = "offset " + std::to_string(offset) + " count " + std::to_string(count);
  if (error != 0) return where + ": error " + std::to_string(error);
  if (done != expected) return where + ": done " + std::to_string(done);
  for (uint32_t i = 0; i < done; ++i) {
    if (buffer[i] != content[offset + i]) return where + ": byte " + std::to_string(i);
  }
  for (uint32_t i = done; i < buffer.size(); ++i) {
    if (buffer[i] != kUntouched) return where + ": wrote past the data at " + std::to_string(i);
  }
  return "";
}

// Every offset of `offsets` with counts from one byte to several clusters
// (enough to cross a run), and once to the end of the value.
void ExpectReadsMatch(Toolkit* t, const std::vector<uint8_t>& content,
                      const std::vector<uint32_t>& offsets, uint32_t S, uint32_t K) {
  std::vector<std::string> failures;
  for (uint32_t offset : offsets) {
    const uint32_t toEnd =
        offset < content.size() ? static_cast<uint32_t>(content.size()) - offset : 1;
    for (uint32_t count : {1u, 2u, S - 1, S, S + 1, K - 1, K, K + 1, 3 * K + S + 3, toEnd}) {
      std::string failure = CheckRead(t, content, offset, count);
      if (!failure.empty()) failures.push_back(std::move(failure));
    }
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " bad reads, first: " << failures[0];
}

// The edges of a value held in `runs`: its start, its end and every
// cluster edge (every run starts at one).
std::vector<uint32_t> Edges(const std::vector<ClusterRun>& runs, uint32_t K, uint32_t size) {
  std::vector<uint32_t> edges = {0, size};
  uint32_t clusters = 0;
  for (const ClusterRun& run : runs) clusters += run.length;
  for (uint32_t c = 0; c <= clusters; ++c) edges.push_back(c * K);
  return edges;
}

std::string DescriptorSummary(Toolkit* t) {
  uint8_t d[kDescriptorSize] = {};
  const int32_t error = ReadDescriptor(t, d);
  char text[64];
  std::snprintf(text, sizeof text, "error %d bits %02x size %u", error, d[0], GetBE32(d + 9));
  return text;
}

std::string ExpectedDescriptor(uint32_t size) {
  return "error 0 bits 1b size " + std::to_string(size);
}

// ---------------------------------------------------------------------------
// One run list, runs below earlier ones.

// The file the suite reads, built once per geometry and mounted read-only
// by every test.
struct MultiRunImage {
  std::string path;
  uint32_t K = 0, S = 0;
  std::vector<ClusterRun> runs;
  std::vector<uint8_t> content;
};

MultiRunImage MakeMultiRun(const Geometry& g, const std::string& path) {
  MultiRunImage image;
  image.path = path;
  test::FormatImage(image.path, g.mkfs);
  ImageBuilder b(image.path);
  image.K = b.geometry().clusterSize;
  image.S = b.geometry().bytesPerSector;
  const uint32_t m = b.FindFreeClusters(48);
  // Behind the first run, offsets -24, +28, -40 and +17 from the last
  // cluster of the run before.
  image.runs = {{m + 30, 3}, {m + 8, 5}, {m + 40, 1}, {m, 4}, {m + 20, 2}};
  image.content = test::PatternBytes(15 * image.K - image.K / 2 - 3, 9);
  const uint32_t n = b.AddRunFile(record::kRoot, "multi.bin", image.runs, image.content);
  b.LinkNames(record::kRoot, {{"multi.bin", n}});
  return image;
}

const MultiRunImage& BuildMultiRun(const Geometry& g) {
  static test::TempDir dir;
  static std::map<std::string, MultiRunImage> built;
  auto it = built.find(g.label);
  if (it == built.end()) {
    it = built.emplace(g.label, MakeMultiRun(g, dir.File(std::string(g.label) + ".img"))).first;
  }
  return it->second;
}

class ReadMultiRun : public test::VolumeTest, public ::testing::WithParamInterface<Geometry> {
 protected:
  void SetUp() override {
    const MultiRunImage& image = BuildMultiRun(GetParam());
    K_ = image.K;
    S_ = image.S;
    runs_ = image.runs;
    content_ = image.content;
    Mount(image.path, false);
  }

  uint32_t Size() const { return static_cast<uint32_t>(content_.size()); }

  uint32_t K_ = 0;
  uint32_t S_ = 0;
  std::vector<ClusterRun> runs_;
  std::vector<uint8_t> content_;
};

TEST_P(ReadMultiRun, EveryBoundaryReadsTheBytesWritten) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  std::vector<uint32_t> edges = Edges(runs_, K_, Size());
  for (uint32_t s = 0; s <= 2 * K_; s += S_) edges.push_back(s);  // every sector of two clusters
  ExpectReadsMatch(t, content_, InterestingOffsets(edges, S_, Size()), S_, K_);
  ToolkitClose(t);
}

TEST_P(ReadMultiRun, ReadsAtOrBeyondTheSizeGiveNothing) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  for (uint32_t offset : {Size(), Size() + 1, Size() + K_, 0xFFFFFFF0u}) {
    EXPECT_EQ(CheckRead(t, content_, offset, 100), "");
  }
  EXPECT_EQ(CheckRead(t, content_, Size() - 5, 4096), "");  // stops at the size
  ToolkitClose(t);
}

TEST_P(ReadMultiRun, SequentialPiecesReassembleTheFile) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> whole;
  std::vector<uint8_t> piece(1000);
  for (uint32_t offset = 0;;) {
    uint32_t done = 0;
    ASSERT_EQ(FileRead(t, offset, 1000, piece.data(), done), 0);
    if (done == 0) break;
    whole.insert(whole.end(), piece.begin(), piece.begin() + done);
    offset += done;
  }
  EXPECT_EQ(whole, content_);
  ToolkitClose(t);
}

TEST_P(ReadMultiRun, SizeAndDescriptorCarryTheLength) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  uint32_t size = 0;
  EXPECT_EQ(FileSize(t, size), 0);
  EXPECT_EQ(size, Size());
  EXPECT_EQ(DescriptorSummary(t), ExpectedDescriptor(Size()));
  ToolkitClose(t);
}

std::string TraceLine(uint32_t vcn, uint32_t first, uint32_t last, uint32_t lcn, uint8_t header,
                      uint32_t length, uint32_t raw) {
  char line[128];
  std::snprintf(line, sizeof line,
                "VCN=%08x VCNS=%08x VCNL=%08x COFF=%08x ORS=%d CRS=%d CR=%08x OR=%08x\n", vcn,
                first, last, lcn, header >> 4, header & 0x0F, length, raw);
  return line;
}

std::string FoundLine(uint32_t lcn, uint32_t length) {
  char line[64];
  std::snprintf(line, sizeof line, "--> PH_START=%08x RUN_LENGTH=%08x\n", lcn, length);
  return line;
}

// The trace names every run walked on the way, then the one found.
TEST_P(ReadMultiRun, LookupRunTracesTheRunsItWalks) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  const uint8_t* a = FindAttribute(t, t->fileChain, AT_DATA);
  ASSERT_NE(a, nullptr);
  const uint8_t* list = a + AttrRunListOffset(a);
  const uint32_t wanted = 10;  // in the fourth run (VCN 9 to 12), 40 clusters back
  std::string expected;
  uint32_t vcn = 0, p = 0, pos = 0;
  for (size_t i = 0; i < 4; ++i) {
    const ClusterRun& r = runs_[i];
    const uint8_t header = list[pos];
    expected += TraceLine(wanted, vcn, vcn + r.length - 1, r.lcn, header, r.length, r.lcn - p);
    pos += 1 + (header & 0x0F) + (header >> 4);
    vcn += r.length;
    p = r.lcn + r.length - 1;
  }
  expected += FoundLine(runs_[3].lcn, runs_[3].length);
  uint32_t first = 0, last = 0, length = 0, lcn = 0;
  const std::string printed = test::CapturedStdout([&] {
    EXPECT_EQ(LookupRun(a, wanted, first, last, length, lcn, true), 0);
    std::fflush(stdout);
  });
  EXPECT_EQ(printed, expected);
  EXPECT_EQ(first, 9u);
  EXPECT_EQ(last, 12u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(lcn, runs_[3].lcn);
  ToolkitClose(t);
}

TEST_P(ReadMultiRun, LookupRunInTheFirstRunPrintsTwoLines) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  const uint8_t* a = FindAttribute(t, t->fileChain, AT_DATA);
  ASSERT_NE(a, nullptr);
  const uint8_t header = a[AttrRunListOffset(a)];
  uint32_t first = 0, last = 0, length = 0, lcn = 0;
  const std::string printed = test::CapturedStdout([&] {
    EXPECT_EQ(LookupRun(a, 2, first, last, length, lcn, true), 0);
    std::fflush(stdout);
  });
  EXPECT_EQ(printed,
            TraceLine(2, 0, 2, runs_[0].lcn, header, 3, runs_[0].lcn) + FoundLine(runs_[0].lcn, 3));
  EXPECT_EQ(LookupRun(a, 15, first, last, length, lcn, false), 0x34FF);  // past the last run
  ToolkitClose(t);
}

std::string GeometryName(const ::testing::TestParamInfo<Geometry>& p) { return p.param.label; }

INSTANTIATE_TEST_SUITE_P(Geometries, ReadMultiRun, ::testing::ValuesIn(kGeometries), GeometryName);

// ---------------------------------------------------------------------------
// Runs continued in extension records through an attribute list.

struct ListCase {
  Geometry geometry;
  ListLayout layout;
};

void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.geometry.label
      << (c.layout == ListLayout::kFirstInBase ? " first instance in the base" : "");
}

struct ListImage {
  std::string path;
  uint32_t K = 0, S = 0;
  std::vector<ClusterRun> first, second;
  std::vector<uint8_t> content;
  ListFile file;
};

ListImage MakeList(const ListCase& c, const std::string& path) {
  ListImage image;
  image.path = path;
  test::FormatImage(image.path, c.geometry.mkfs);
  ImageBuilder b(image.path);
  image.K = b.geometry().clusterSize;
  image.S = b.geometry().bytesPerSector;
  const uint32_t l = b.FindFreeClusters(40);
  image.first = {{l + 20, 3}, {l + 2, 2}};
  image.second = {{l + 30, 2}, {l + 10, 4}};
  image.content = test::PatternBytes(11 * image.K - 100, 11);
  image.file = b.AddListFile(record::kRoot, "listed.bin", image.first, image.second, image.content,
                             c.layout);
  b.LinkNames(record::kRoot, {{"listed.bin", image.file.base}});
  return image;
}

const ListImage& BuildList(const ListCase& c) {
  static test::TempDir dir;
  static std::map<std::pair<std::string, ListLayout>, ListImage> built;
  const auto key = std::make_pair(std::string(c.geometry.label), c.layout);
  auto it = built.find(key);
  if (it == built.end()) {
    it = built.emplace(key, MakeList(c, dir.File(std::to_string(built.size()) + ".img"))).first;
  }
  return it->second;
}

class ReadExtensionRuns : public test::VolumeTest, public ::testing::WithParamInterface<ListCase> {
 protected:
  void SetUp() override {
    const ListImage& image = BuildList(GetParam());
    K_ = image.K;
    S_ = image.S;
    first_ = image.first;
    second_ = image.second;
    content_ = image.content;
    file_ = image.file;
    Mount(image.path, false);
  }

  // Opens the file, keeping what the open prints in `printed_`.
  Toolkit* OpenListed() {
    Toolkit* t = nullptr;
    printed_ = test::CapturedStdout([&] {
      t = Open("/1/listed.bin");
      std::fflush(stdout);
    });
    return t;
  }

  uint32_t Size() const { return static_cast<uint32_t>(content_.size()); }

  uint32_t K_ = 0;
  uint32_t S_ = 0;
  std::vector<ClusterRun> first_, second_;
  std::vector<uint8_t> content_;
  ListFile file_;
  std::string printed_;
};

TEST_P(ReadExtensionRuns, EveryBoundaryReadsTheBytesWritten) {
  Toolkit* t = OpenListed();
  ASSERT_NE(t, nullptr);
  std::vector<ClusterRun> all = first_;
  all.insert(all.end(), second_.begin(), second_.end());
  std::vector<uint32_t> edges = Edges(all, K_, Size());
  for (uint32_t s = 4 * K_; s <= 6 * K_; s += S_) edges.push_back(s);  // around the instance edge
  test::CapturedStdout([&] {  // what reads print is the business of the test below
    ExpectReadsMatch(t, content_, InterestingOffsets(edges, S_, Size()), S_, K_);
    std::fflush(stdout);
  });
  ToolkitClose(t);
}

// The list is printed once, when the open loads the records; the data
// operations on the open file print nothing.
TEST_P(ReadExtensionRuns, ReadingAfterTheOpenPrintsNothing) {
  Toolkit* t = OpenListed();
  ASSERT_NE(t, nullptr);
  std::vector<uint8_t> buffer(Size());
  const std::string printed = test::CapturedStdout([&] {
    uint32_t done = 0, size = 0;
    uint8_t descriptor[kDescriptorSize];
    EXPECT_EQ(FileRead(t, 0, Size(), buffer.data(), done), 0);
    EXPECT_EQ(FileRead(t, 5 * K_ - 7, 20, buffer.data(), done), 0);
    EXPECT_EQ(FileSize(t, size), 0);
    EXPECT_EQ(ReadDescriptor(t, descriptor), 0);
    std::fflush(stdout);
  });
  EXPECT_EQ(printed, "");
  ToolkitClose(t);
}

TEST_P(ReadExtensionRuns, ReadsAtOrBeyondTheSizeGiveNothing) {
  Toolkit* t = OpenListed();
  ASSERT_NE(t, nullptr);
  test::CapturedStdout([&] {
    for (uint32_t offset : {Size(), Size() + 1, Size() + 3 * K_}) {
      EXPECT_EQ(CheckRead(t, content_, offset, 64), "");
    }
    EXPECT_EQ(CheckRead(t, content_, Size() - 1, 2), "");
    std::fflush(stdout);
  });
  ToolkitClose(t);
}

TEST_P(ReadExtensionRuns, SizeAndDescriptorComeFromTheBaseAndFirstInstance) {
  Toolkit* t = OpenListed();
  ASSERT_NE(t, nullptr);
  uint32_t size = 0;
  std::string descriptor;
  test::CapturedStdout([&] {
    EXPECT_EQ(FileSize(t, size), 0);
    descriptor = DescriptorSummary(t);
    std::fflush(stdout);
  });
  EXPECT_EQ(size, Size());
  EXPECT_EQ(descriptor, ExpectedDescriptor(Size()));
  ToolkitClose(t);
}

std::string ListLine(uint32_t type, uint32_t firstVcn, uint32_t record) {
  char line[96];
  std::snprintf(line, sizeof line, " $%2.2x %4u  %4u     %6u       %4u %4u\n", type, 32u, 0u,
                firstVcn, record, 0u);
  return line;
}

TEST_P(ReadExtensionRuns, OpeningPrintsTheAttributeList) {
  Toolkit* t = OpenListed();
  ASSERT_NE(t, nullptr);
  const std::string dash(47, '-');
  const std::string expected = dash + "\n" + " TYPE RECSIZE NAMEL START_VCN     MFT  ATTR_ID \n" +
                               ListLine(0x10, 0, file_.base) + ListLine(0x30, 0, file_.base) +
                               ListLine(0x80, 0, file_.first) + ListLine(0x80, 5, file_.second) +
                               ListLine(0x1000, 0, file_.base) + dash + "\n";
  EXPECT_EQ(printed_, expected);
  EXPECT_EQ(t->fileChain.Size(), file_.first == file_.base ? 2u : 3u);
  ToolkitClose(t);
}

// Each instance's run list starts again from its own first VCN and from
// LCN 0.
TEST_P(ReadExtensionRuns, LookupRunInTheSecondInstanceCountsFromItsFirstVcn) {
  Toolkit* t = OpenListed();
  ASSERT_NE(t, nullptr);
  const uint8_t* a = FindLastAttribute(t, t->fileChain, AT_DATA);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(AttrFirstVcn(a), 5u);
  uint32_t first = 0, last = 0, length = 0, lcn = 0;
  EXPECT_EQ(LookupRun(a, 6, first, last, length, lcn, false), 0);
  EXPECT_EQ(first, 5u);
  EXPECT_EQ(last, 6u);
  EXPECT_EQ(lcn, second_[0].lcn);
  EXPECT_EQ(LookupRun(a, 9, first, last, length, lcn, false), 0);
  EXPECT_EQ(first, 7u);
  EXPECT_EQ(lcn, second_[1].lcn);
  EXPECT_EQ(LookupRun(a, 11, first, last, length, lcn, false), 0x34FF);
  ToolkitClose(t);
}

std::vector<ListCase> ListCases() {
  std::vector<ListCase> cases;
  for (const Geometry& g : kGeometries) {
    cases.push_back({g, ListLayout::kFirstInExtension});
    cases.push_back({g, ListLayout::kFirstInBase});
  }
  return cases;
}

std::string ListCaseName(const ::testing::TestParamInfo<ListCase>& p) {
  return std::string(p.param.geometry.label) +
         (p.param.layout == ListLayout::kFirstInBase ? "FirstInBase" : "FirstInExtension");
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReadExtensionRuns, ::testing::ValuesIn(ListCases()),
                         ListCaseName);

}  // namespace
}  // namespace vrax
