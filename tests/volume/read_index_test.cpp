#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/image_toolkit.h"
#include "support/volume_fixture.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"
#include "volume/index/index.h"

namespace vrax {
namespace {

using test::ClusterRun;
using test::ImageBuilder;
using test::IndexName;
using test::IndexShape;

using Listing = std::vector<std::pair<std::string, uint32_t>>;

const std::string kName28 = "abcdefghijklmnopqrstuvwxyz01";
const std::string kName40 = "Forty-characters-are-more-than-the-field";

std::string SwapCase(std::string name) {
  for (char& c : name) {
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c = static_cast<char>(c ^ 0x20);
  }
  return name;
}

// `count` distinct names, the awkward ones first; made-up record numbers.
std::vector<IndexName> Names(uint32_t count) {
  const std::vector<std::string> awkward = {
      "\x80start", "\xFF" "end", "\xC3\xA9t\xC3\xA9", "abc", "abcd", "_x", "Zz", "`tick",
      "{brace", "0zero", "~tilde", "MiXeD.Case", kName28, kName40};
  std::vector<IndexName> names;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name = i < awkward.size() ? awkward[i] : "n" + std::to_string(1000 + i);
    names.push_back({name, 1000 + i});
  }
  return names;
}

IndexShape EveryEntry() { return IndexShape::Full(3, 5); }
// Sub-nodes below first, middle and end entries, branches of unequal depth.
IndexShape Mixed() {
  IndexShape shape = IndexShape::Leaf(4);
  shape.With(0, IndexShape::Leaf(8).With(0, IndexShape::Leaf(8)))
      .With(2, IndexShape::Leaf(5))
      .With(4, IndexShape::Leaf(3).With(3, IndexShape::Full(2, 3)));
  return shape;
}

struct IndexCase {
  const char* label;
  const char* mkfs;
  IndexShape (*shape)();
};

// Also a block spanning several VCNs, and 4096-byte sectors' fix-ups.
const IndexCase kCases[] = {
    {"Sector512EveryEntry", "--size 8M", EveryEntry},
    {"Sector512Mixed", "--size 8M", Mixed},
    {"Sector512Cluster1KMixed", "--size 8M --cluster-size 1024", Mixed},
    {"Sector4KEveryEntry", "--size 16M --sector-size 4096", EveryEntry},
};

struct IndexImage {
  std::string path;
  Listing sorted;  // the names in the order a directory read must give them
};

// Two runs, the second below the first; blocks may straddle them.
std::vector<ClusterRun> ScatteredAllocation(ImageBuilder& b, const IndexShape& shape) {
  const uint32_t clusters = shape.Blocks() * b.geometry().indexBlockSize / b.geometry().clusterSize;
  const uint32_t base = b.FindFreeClusters(clusters + 7);
  const uint32_t half = clusters / 2 + 1;
  return {{base + 7 + clusters - half, half}, {base, clusters - half}};
}

IndexImage MakeIndexImage(const IndexCase& c, const std::string& path) {
  IndexImage image{path, {}};
  test::FormatImage(path, c.mkfs);
  ImageBuilder b(path);
  const IndexShape shape = c.shape();
  const std::vector<IndexName> names = Names(shape.TotalNames());
  const uint32_t dir = b.AddDirectory(record::kRoot, "dir");
  b.BuildIndex(dir, shape, names, ScatteredAllocation(b, shape));
  b.LinkNames(record::kRoot, {{"dir", dir}});
  for (const IndexName& n : names) image.sorted.emplace_back(n.name, n.record);
  std::sort(image.sorted.begin(), image.sorted.end(),
            [](const auto& x, const auto& y) { return test::IndexOrderBefore(x.first, y.first); });
  return image;
}

class ReadIndexTree : public test::VolumeTest, public ::testing::WithParamInterface<IndexCase> {
 protected:
  void SetUp() override {
    VolumeTest::SetUp();
    index_ = MakeIndexImage(GetParam(), dir_.File("index.img"));
    Mount(index_.path, false);
    dir_toolkit_ = Open("/1/dir");
    ASSERT_NE(dir_toolkit_, nullptr);
  }
  void TearDown() override {
    ToolkitClose(dir_toolkit_);
    VolumeTest::TearDown();
  }

  int32_t Lookup(const std::string& name, uint32_t& record) {
    return IndexLookup(dir_toolkit_, dir_toolkit_->fileChain, name.data(),
                       static_cast<uint32_t>(name.size()), record);
  }

  // Reads from `offset` in slices until one is short. Short names are
  // zero-padded; nothing is written past what is delivered.
  Listing ReadFrom(uint32_t offset, uint32_t slice) {
    Listing listing;
    for (int guard = 0; guard < 10000; ++guard) {
      std::vector<uint8_t> buffer(slice + 1, 0xA5);
      uint32_t delivered = 0;
      EXPECT_EQ(ReadDirectory(dir_toolkit_, offset, slice, buffer.data(), delivered), 0);
      EXPECT_EQ(buffer[delivered], 0xA5);
      for (uint32_t i = 0; i < delivered; i += kDirRecordSize) {
        const char* name = reinterpret_cast<const char*>(buffer.data() + i);
        listing.emplace_back(std::string(name, strnlen(name, kDirRecordNameSize)),
                             GetLE32(buffer.data() + i + 28));
        for (size_t j = listing.back().first.size(); j < kDirRecordNameSize; ++j)
          EXPECT_EQ(buffer[i + j], 0) << listing.back().first;
      }
      if (delivered < slice) break;
      offset += delivered;
    }
    return listing;
  }

  Listing Expected(uint32_t fromRecord) const {
    Listing all = {{"..", 5u}, {".", OpenedRecordNumber(dir_toolkit_)}};
    for (const auto& [name, record] : index_.sorted) {
      all.emplace_back(name.substr(0, kDirRecordNameSize), record);
    }
    return Listing(all.begin() + std::min<size_t>(fromRecord, all.size()), all.end());
  }

  IndexImage index_;
  Toolkit* dir_toolkit_ = nullptr;
};

TEST_P(ReadIndexTree, EveryNameIsFoundInAnyLetterCaseAndNoOther) {
  for (const auto& [name, record] : index_.sorted) {
    for (const std::string& asked : {name, SwapCase(name)}) {
      uint32_t found = 0;
      EXPECT_EQ(Lookup(asked, found), 0) << asked;
      EXPECT_EQ(found, record) << asked;
    }
  }
  std::vector<std::string> absent = {
      "", "\x7F", "\x80", "ab", "abce", "zzzzzzzz", "n0999", kName28 + "x", kName40.substr(0, 28)};
  for (const auto& entry : index_.sorted) absent.push_back(entry.first + "~");
  for (const std::string& name : absent) {
    uint32_t found = 0;
    EXPECT_EQ(Lookup(name, found), kErrPathNotFound) << name;
    EXPECT_EQ(found, 0xFFFFFFFFu) << name;
  }
}

TEST_P(ReadIndexTree, ReadsDeliverEveryNameOnceInOrder) {
  EXPECT_EQ(ReadFrom(0, 4096), Expected(0));
  const uint32_t total = static_cast<uint32_t>(index_.sorted.size()) + 2;
  for (uint32_t k : {1u, 2u, 33u, total - 1, total, total + 5}) {
    EXPECT_EQ(ReadFrom(32 * k, 4096), Expected(k)) << "record " << k;
  }
  EXPECT_EQ(ReadFrom(0, 32), Expected(0));
  EXPECT_EQ(ReadFrom(64, 160), Expected(2));
}

std::string IndexCaseName(const ::testing::TestParamInfo<IndexCase>& p) { return p.param.label; }

INSTANTIATE_TEST_SUITE_P(Shapes, ReadIndexTree, ::testing::ValuesIn(kCases), IndexCaseName);

}  // namespace
}  // namespace vrax
