// The formatter's pure parts: geometry checks and layout, size texts, and
// the record builder that the image toolkit uses too.
#include <gtest/gtest.h>

#include "mkfs/geometry.h"
#include "mkfs/record_builder.h"
#include "mkfs/size_text.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"

namespace vrax::mkfs_test {
namespace {

using mkfs::ComputeLayout;
using mkfs::GeometryRequest;
using mkfs::VolumeLayout;

GeometryRequest Request(uint64_t bytes, uint64_t sector = 0, uint64_t cluster = 0,
                        uint64_t record = 0, uint64_t index = 0) {
  GeometryRequest r;
  r.volumeBytes = bytes;
  r.sectorSize = sector;
  r.clusterSize = cluster;
  r.recordSize = record;
  r.indexBlockSize = index;
  return r;
}

TEST(MkfsGeometry, ImpossibleUnitsAreRefused) {
  const std::vector<GeometryRequest> refused = {
      Request(64 << 20, 1024),
      Request(64 << 20, 4096, 2048),
      Request(64 << 20, 0, 3000),
      Request(64 << 20, 0, 128 << 10),
      Request(64 << 20, 0, 0, 512),
      Request(64 << 20, 0, 0, 128 << 10),
      Request(64 << 20, 0, 0, 0, 2048),
      Request(64 << 20, 0, 0, 0, 128 << 10),
      Request(64 << 20, 0, 16384, 0, 8192),
  };
  for (const GeometryRequest& r : refused) {
    VolumeLayout l;
    std::string error;
    EXPECT_FALSE(ComputeLayout(r, l, error))
        << r.sectorSize << "/" << r.clusterSize << "/" << r.recordSize << "/" << r.indexBlockSize;
    EXPECT_FALSE(error.empty());
  }
}

TEST(MkfsGeometry, VolumeSizeLimits) {
  VolumeLayout l;
  std::string error;
  // 18 clusters for the system areas and 64 free ones.
  EXPECT_TRUE(ComputeLayout(Request(82 * 4096), l, error)) << error;
  EXPECT_EQ(l.FreeClusters(), 64u);
  EXPECT_FALSE(ComputeLayout(Request(82 * 4096 - 1), l, error));
  EXPECT_NE(error.find("too small"), std::string::npos);
  const uint64_t maxSectors = 0xFFFFFFFFull;
  EXPECT_TRUE(ComputeLayout(Request(maxSectors * 512 + 511), l, error)) << error;
  EXPECT_EQ(l.totalSectors, maxSectors);
  EXPECT_EQ(l.clusterCount, maxSectors / 8);
  EXPECT_FALSE(ComputeLayout(Request((maxSectors + 1) * 512), l, error));
  EXPECT_TRUE(ComputeLayout(Request((maxSectors + 1) * 512, 4096), l, error)) << error;
}

TEST(MkfsSizeText, SuffixesArePowersOf1024) {
  EXPECT_EQ(mkfs::ParseSizeText("4096"), 4096u);
  EXPECT_EQ(mkfs::ParseSizeText("4K"), 4096u);
  EXPECT_EQ(mkfs::ParseSizeText("64m"), 64u << 20);
  EXPECT_EQ(mkfs::ParseSizeText("2G"), 2ull << 30);
  EXPECT_EQ(mkfs::ParseSizeText("17179869183G"), 17179869183ull << 30);
  for (const char* bad : {"", "K", "-1", "+1", " 1", "1 ", "1KB", "1T", "0x10",
                          "18446744073709551616", "17179869184G"}) {
    EXPECT_FALSE(mkfs::ParseSizeText(bad)) << bad;
  }
}

// The runs the builder encodes decode back as they were, offsets below
// the run before included.
TEST(MkfsRecordBuilder, RunListsRoundTrip) {
  const std::vector<ClusterRun> runs = {{100, 8}, {90, 4}, {0, 0x80}, {70000, 3}};
  std::vector<uint8_t> list = mkfs::EncodeRunList(runs);
  list.push_back(0);
  std::vector<ClusterRun> decoded;
  ASSERT_TRUE(DecodeRunList(list.data(), static_cast<uint32_t>(list.size()), decoded));
  EXPECT_EQ(decoded.size(), runs.size());
  for (size_t i = 0; i < runs.size() && i < decoded.size(); ++i) {
    EXPECT_EQ(decoded[i].lcn, runs[i].lcn) << i;
    EXPECT_EQ(decoded[i].length, runs[i].length) << i;
  }
  EXPECT_TRUE(mkfs::EncodeRunList({}).empty());
}

TEST(MkfsRecordBuilder, AFullRecordRefusesMoreAndStaysUnchanged) {
  mkfs::RecordBuilder builder(1024, 512);
  ASSERT_TRUE(builder.AddResident(AT_DATA, "", std::vector<uint8_t>(900, 1)));
  const std::vector<uint8_t> before = builder.image();
  EXPECT_FALSE(builder.AddResident(AT_BITMAP, "", std::vector<uint8_t>(100, 1)));
  EXPECT_EQ(builder.image(), before);
}

}  // namespace
}  // namespace vrax::mkfs_test
