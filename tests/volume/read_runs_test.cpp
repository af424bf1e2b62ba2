#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/error_codes.h"
#include "support/sample_volume.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"

namespace vrax {
namespace {

using test::ClusterRun;
using test::ListFile;

struct Geometry {
  const char* label;
  const char* mkfs;
};

const Geometry kGeometries[] = {
    {"Sector512Cluster4K", "--size 8M"},
    {"Sector4KCluster8K", "--size 16M --sector-size 4096 --cluster-size 8192"},
};


// Reads on both sides of the value's end and of every cluster edge (runs
// start at one), from one byte to several clusters and to the end.
void ExpectReadsMatch(Toolkit* t, const std::vector<uint8_t>& content, uint32_t S, uint32_t K) {
  const uint32_t size = static_cast<uint32_t>(content.size());
  std::vector<uint32_t> edges = {size};
  for (uint32_t e = 0; e < size + K; e += K) edges.push_back(e);
  std::set<uint32_t> offsets;
  for (uint32_t e : edges) {
    for (uint32_t o : {e - 1, e, e + 1}) {
      if (o <= size + 1) offsets.insert(o);  // e - 1 wraps above for e = 0
    }
  }
  for (uint32_t offset : offsets) {
    const uint32_t toEnd = offset < size ? size - offset : 1;
    for (uint32_t count : {1u, S + 1, K + 1, 3 * K + S + 3, toEnd})
      EXPECT_TRUE(test::ReadMatches(t, content, offset, count)) << offset << " " << count;
  }
}

class ReadRuns : public test::VolumeTest, public ::testing::WithParamInterface<Geometry> {
 protected:
  void SetUp() override {
    VolumeTest::SetUp();
    const test::SampleImage& sample = test::SharedSample(GetParam().mkfs);
    v_ = &sample.volume;
    K_ = v_->geometry.clusterSize;
    S_ = v_->geometry.bytesPerSector;
    Mount(sample.path, false);
  }

  Toolkit* OpenQuietly(const std::string& path) {
    Toolkit* t = nullptr;
    test::CapturedStdout([&] {
      t = Open(path);
      std::fflush(stdout);
    });
    return t;
  }

  const test::SampleVolume* v_ = nullptr;
  uint32_t K_ = 0;
  uint32_t S_ = 0;
};

// Reads give the bytes written and print nothing; size and descriptor agree.
TEST_P(ReadRuns, EveryBoundaryReadsTheBytesWritten) {
  const struct {
    std::string path;
    uint32_t size;
    uint8_t seed;
  } files[] = {{"/1/multi.bin", v_->multiSize, 2}, {"/1/listed.bin", v_->listedSize, 3},
               {"/1/inbase.bin", v_->listedSize, 3}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.path);
    Toolkit* t = OpenQuietly(f.path);
    ASSERT_NE(t, nullptr);
    const std::vector<uint8_t> content = test::PatternBytes(f.size, f.seed);
    uint32_t reported = 0;
    uint8_t d[kDescriptorSize] = {};
    const std::string printed = test::CapturedStdout([&] {
      ExpectReadsMatch(t, content, S_, K_);
      for (uint32_t offset : {f.size + 3 * K_, 0xFFFFFFF0u}) {
        EXPECT_TRUE(test::ReadMatches(t, content, offset, 100)) << offset;
      }
      EXPECT_EQ(FileSize(t, reported), 0);
      EXPECT_EQ(ReadDescriptor(t, d), 0);
      std::fflush(stdout);
    });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(reported, f.size);
    EXPECT_EQ(d[0], 0x1B);
    EXPECT_EQ(GetBE32(d + 9), f.size);
    ToolkitClose(t);
  }
}

// The run of a VCN in the fourth run, 40 clusters below the third.
TEST_P(ReadRuns, LookupRunFindsARunBelowTheOneBefore) {
  Toolkit* t = Open("/1/multi.bin");
  ASSERT_NE(t, nullptr);
  const uint8_t* a = FindAttribute(t, t->fileChain, AT_DATA);
  ASSERT_NE(a, nullptr);
  const uint32_t fourth = v_->multiRuns[3].lcn;  // VCN 9 to 12
  uint32_t first = 0, last = 0, length = 0, lcn = 0;
  EXPECT_EQ(LookupRun(a, 10, first, last, length, lcn, false), 0);
  EXPECT_EQ(first, 9u);
  EXPECT_EQ(last, 12u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(lcn, fourth);
  EXPECT_EQ(LookupRun(a, 15, first, last, length, lcn, false), 0x34FF);  // past the last run
  ToolkitClose(t);
}

// The second instance's run list starts again from its own first VCN and
// from LCN 0.
TEST_P(ReadRuns, EachListedInstanceCountsFromItsFirstVcn) {
  const struct {
    std::string path;
    ListFile records;
    const std::vector<ClusterRun>* runs;  // the two instances
  } files[] = {{"/1/listed.bin", v_->listed, v_->listedRuns},
               {"/1/inbase.bin", v_->inBase, v_->inBaseRuns}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.path);
    Toolkit* t = OpenQuietly(f.path);
    ASSERT_NE(t, nullptr);
    const ListFile& r = f.records;
    EXPECT_EQ(t->fileChain.Size(), r.first == r.base ? 2u : 3u);
    const uint8_t* a = FindLastAttribute(t, t->fileChain, AT_DATA);
    ASSERT_NE(a, nullptr);
    uint32_t first = 0, last = 0, length = 0, lcn = 0;
    EXPECT_EQ(LookupRun(a, 6, first, last, length, lcn, false), 0);
    EXPECT_EQ(first, 5u);
    EXPECT_EQ(last, 6u);
    EXPECT_EQ(lcn, f.runs[1][0].lcn);
    EXPECT_EQ(LookupRun(a, 11, first, last, length, lcn, false), 0x34FF);
    ToolkitClose(t);
  }
}

std::string GeometryName(const ::testing::TestParamInfo<Geometry>& p) { return p.param.label; }

INSTANTIATE_TEST_SUITE_P(Geometries, ReadRuns, ::testing::ValuesIn(kGeometries), GeometryName);

}  // namespace
}  // namespace vrax
