#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "support/image_toolkit.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/record_edit.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

class ExtensionGrowthTest : public test::VolumeTest {};

// The second instance, a run of 0x7FFF clusters in a full extension record,
// ends right before the first free cluster: the next cluster merges into a
// run of 0x8000, whose extra length byte the record cannot hold. The value
// must go on in a new extension record and read back exactly.
TEST_F(ExtensionGrowthTest, MergedRunThatOutgrowsAFullRecordContinuesCorrectly) {
  image_ = dir_.File("merge.img");
  ASSERT_EQ(test::FormatVolume(image_, "--size 32M --cluster-size 512"), 0);
  const uint32_t second = 0x7FFF;
  std::vector<uint8_t> data;
  {
    test::ImageBuilder builder(image_);
    const uint32_t lcn = builder.FindFreeClusters(second + 200);
    const std::vector<test::ClusterRun> firstRuns{{lcn + second + 100, 8}};
    const std::vector<test::ClusterRun> secondRuns{{lcn, second}};
    data = test::PatternBytes((8 + second) * 512, 15);
    const test::ListFile file = builder.AddListFile(5, "merge", firstRuns, secondRuns, data,
                                                    test::ListLayout::kFirstInExtension);
    // The root's index block goes far away: the first free cluster follows the run.
    const uint32_t blockClusters = builder.geometry().indexBlockSize / 512;
    builder.BuildIndex(5, test::IndexShape::Leaf(1), {{"merge", file.base}},
                       {{lcn + second + 1000, blockClusters}});
    // An extra attribute fills the second instance's record to its last byte.
    builder.PatchRecord(file.second, [&](uint8_t* image) {
      const uint32_t room = RecordFreeRoom(image);
      ASSERT_GE(room, 0x18u);
      const std::vector<uint8_t> a =
          test::ResidentAttribute(AT_VOLUME_VERSION, std::vector<uint8_t>((room - 0x18) & ~1u));
      ASSERT_TRUE(InsertAttributeBytes(image, builder.geometry().recordSize, a.data(),
                                       static_cast<uint32_t>(a.size())));
    });
  }
  ExpectClean();
  Mount(image_);
  const auto more = test::PatternBytes(512, 16);
  std::vector<uint8_t> read(data.size() + more.size());
  uint32_t done = 0;
  test::CapturedStdout([&] {
    Toolkit* t = nullptr;
    ASSERT_EQ(ToolkitOpen(t, "/1/merge"), 0);
    const uint32_t before = t->fileChain.Size();
    EXPECT_EQ(FileWrite(t, static_cast<uint32_t>(data.size()), 512, more.data(), done), 0);
    EXPECT_EQ(t->fileChain.Size(), before + 1);
    ToolkitClose(t);
    ASSERT_EQ(ToolkitOpen(t, "/1/merge"), 0);
    EXPECT_EQ(FileRead(t, 0, static_cast<uint32_t>(read.size()), read.data(), done), 0);
    ToolkitClose(t);
    std::fflush(stdout);
  });
  data.insert(data.end(), more.begin(), more.end());
  EXPECT_TRUE(read == data);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
