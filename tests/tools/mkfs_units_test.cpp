// The formatter's pure parts: geometry checks and layout, size texts, and
// the record builder that the image toolkit uses too.
#include <gtest/gtest.h>

#include "mkfs/geometry.h"
#include "mkfs/record_builder.h"
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
      Request(64 << 20, 0, 0, 0, 2048),
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

}  // namespace
}  // namespace vrax::mkfs_test
