#include <gtest/gtest.h>

#include "support/image_toolkit.h"
#include "support/volume_fixture.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/format/attribute.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"
#include "volume/index/index_update.h"

namespace vrax {
namespace {

struct Geometry {
  std::string options;
  uint32_t sectorSize, clusterSize, recordSize, indexSize;
};

class MkfsMount : public test::VolumeTest, public ::testing::WithParamInterface<Geometry> {};

TEST_P(MkfsMount, TheVolumeIsSoundAndGrows) {
  const Geometry& g = GetParam();
  image_ = dir_.File("volume.img");
  test::FormatImage(image_, "--size 16M " + g.options);
  uint32_t firstFree = 0;
  {
    test::ImageBuilder b(image_);
    const test::ImageGeometry& v = b.geometry();
    EXPECT_EQ(v.bytesPerSector, g.sectorSize);
    EXPECT_EQ(v.clusterSize, g.clusterSize);
    EXPECT_EQ(v.recordSize, g.recordSize);
    EXPECT_EQ(v.indexBlockSize, g.indexSize);
    EXPECT_EQ(v.totalSectors, (16u << 20) / g.sectorSize);
    firstFree = b.FindFreeClusters(1);
    for (uint32_t n = 0; n < v.mftRecords; ++n) {
      EXPECT_EQ(ValidateRecord(b.ReadRecord(n).data(), v.recordSize, v.clusterCount), 0) << n;
    }
  }
  const test::CheckerResult check = test::RunChecker(image_, "");
  EXPECT_EQ(check.exitCode, 0) << check.output;
  EXPECT_TRUE(check.output.empty()) << check.output;
  Mount(image_);
  Toolkit* root = Open("/1");
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(List("/1").empty());  // ".." and "." only
  uint8_t d[kDescriptorSize] = {};
  EXPECT_EQ(ReadDescriptor(root, d), 0);
  EXPECT_EQ(d[0], 0x9B);
  EXPECT_EQ(DescriptorSize(d), 0x8000u);
  const uint32_t held = RecordsHeld(root);
  for (uint32_t expected = 11; expected < held + 20; ++expected) {
    uint32_t n = 0;
    ASSERT_EQ(AllocateRecord(root, n), 0);
    ASSERT_EQ(n, expected);
    const std::string name = "n" + std::to_string(n);
    ASSERT_EQ(IndexInsert(root, root->fileChain, name.c_str(), name.size(), n), 0) << name;
  }
  EXPECT_EQ(RecordsHeld(root), held + 128);
  uint32_t bitmapBytes = 0;
  EXPECT_EQ(AttributeSize(root, root->mftChain, AT_BITMAP, bitmapBytes), 0);
  EXPECT_EQ(bitmapBytes, (held + 128) / 8);
  uint32_t lcn = 0, count = 0;
  ASSERT_EQ(AllocateClusters(root, 1, 4, lcn, count), 0);
  EXPECT_EQ(count, 4u);
  EXPECT_GE(lcn, firstFree);
  ToolkitClose(root);
  EXPECT_EQ(List("/1").size(), held + 9);
  EXPECT_EQ(OpenResult("/1/.."), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, MkfsMount,
    ::testing::Values(Geometry{"", 512, 4096, 1024, 4096},
                      Geometry{"--sector-size 4096 --record-size 1K", 4096, 4096, 1024, 4096},
                      Geometry{"--sector-size 4096", 4096, 4096, 4096, 4096},
                      Geometry{"--cluster-size 512 --record-size 2K", 512, 512, 2048, 4096},
                      Geometry{"--cluster-size 64K --record-size 64K", 512, 65536, 65536, 65536}));

}  // namespace
}  // namespace vrax
