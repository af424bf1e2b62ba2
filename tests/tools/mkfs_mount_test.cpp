// The engine mounts what vrax-mkfs writes and can grow it: the root opens,
// lists empty, takes names; records and clusters are handed out from what
// the format left free, and the MFT grows past its first records.
#include <gtest/gtest.h>

#include "mkfs_harness.h"
#include "support/volume_fixture.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"
#include "volume/index/index.h"
#include "volume/index/index_update.h"

namespace vrax::mkfs_test {
namespace {

class MkfsMount : public test::VolumeTest, public ::testing::WithParamInterface<std::string> {
 protected:
  // The first cluster behind everything the system records own.
  uint32_t FirstFreeCluster() {
    const FormattedImage image(image_);
    uint32_t end = 0;
    for (uint32_t n = 0; n < record::kSystemRecords; ++n) {
      std::vector<uint8_t> r;
      EXPECT_TRUE(image.Record(n, r));
      for (const uint8_t* a : Attributes(r)) {
        if (!AttrIsNonResident(a)) continue;
        for (const Extent& e : FormattedImage::Runs(a)) end = std::max(end, e.lcn + e.length);
      }
    }
    return end;
  }
};

TEST_P(MkfsMount, RootOpensAsAnEmptyDirectory) {
  FormatAndMount("--size 16M " + GetParam());
  Toolkit* root = Open("/1");
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(IsDirectory(root));
  EXPECT_EQ(OpenedRecordNumber(root), 5u);
  std::vector<uint8_t> buffer(4096);
  uint32_t delivered = 0;
  EXPECT_EQ(ReadDirectory(root, 0, 4096, buffer.data(), delivered), 0);
  EXPECT_EQ(delivered, 64u);  // ".." and "." only
  ToolkitClose(root);
  EXPECT_EQ(OpenResult("/1/.."), 0);
}

TEST_P(MkfsMount, AllocationStartsAfterTheSystemAreasAndTheMftGrows) {
  FormatAndMount("--size 16M " + GetParam());
  const uint32_t firstFree = FirstFreeCluster();
  Toolkit* root = Open("/1");
  ASSERT_NE(root, nullptr);
  const uint32_t held = RecordsHeld(root);
  for (uint32_t expected = 11; expected < held + 20; ++expected) {
    uint32_t n = 0;
    ASSERT_EQ(AllocateRecord(root, n), 0);
    ASSERT_EQ(n, expected);
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
}

TEST_P(MkfsMount, RootTakesNames) {
  FormatAndMount("--size 16M " + GetParam());
  Toolkit* root = Open("/1");
  ASSERT_NE(root, nullptr);
  for (uint32_t n = 11; n < 31; ++n) {
    const std::string name = "n" + std::to_string(n);
    ASSERT_EQ(IndexInsert(root, root->fileChain, name.c_str(), name.size(), n), 0) << name;
  }
  ToolkitClose(root);
  EXPECT_EQ(List("/1").size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(Geometries, MkfsMount,
                         ::testing::Values("", "--sector-size 4096 --record-size 1K",
                                           "--cluster-size 512 --record-size 2K",
                                           "--cluster-size 64K --record-size 64K"));

}  // namespace
}  // namespace vrax::mkfs_test
