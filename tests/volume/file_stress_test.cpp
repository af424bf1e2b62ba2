#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "helpers.h"
#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"

namespace vrax {
namespace {

class FileStressTest : public test::VolumeTest,
                       public ::testing::WithParamInterface<const char*> {};

TEST_P(FileStressTest, RandomGrowthAndTruncationMatchAModel) {
  FormatAndMount(GetParam());
  std::mt19937 random(20261206);
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> model;
  std::vector<Toolkit*> open;
  for (int i = 0; i < 5; ++i) {
    names.push_back("/1/s" + std::to_string(i));
    Toolkit* t = nullptr;
    ASSERT_EQ(ToolkitCreateFile(t, names.back().c_str()), 0);
    open.push_back(t);
    model.emplace_back();
  }
  for (int step = 0; step < 1500; ++step) {
    const size_t i = random() % open.size();
    auto& content = model[i];
    const uint32_t choice = random() % 100;
    if (choice < 5) {
      const uint32_t size = content.empty() ? 0 : random() % (content.size() + 1);
      ASSERT_EQ(FileTruncate(open[i], size), 0) << step;
      // A truncation keeps whole runs that reach past the new end; the size
      // is what counts.
      content.resize(size);
      continue;
    }
    const uint32_t length = 1 + random() % (choice < 80 ? 700 : 9000);
    const uint32_t offset =
        choice < 90 ? static_cast<uint32_t>(content.size()) : random() % (content.size() + 1);
    const test::Bytes bytes = test::RandomBytes(length, static_cast<uint32_t>(random()));
    uint32_t done = 0;
    ASSERT_EQ(FileWrite(open[i], offset, length, bytes.data(), done), 0) << step;
    ASSERT_EQ(done, length);
    if (content.size() < offset + length) content.resize(offset + length, 0);
    std::copy(bytes.begin(), bytes.end(), content.begin() + offset);
  }
  for (Toolkit* t : open) ToolkitClose(t);
  ExpectClean();
  Mount(image_);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_TRUE(test::ReadPath(names[i]) == model[i]) << names[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, FileStressTest,
                         ::testing::Values("--size 16M --cluster-size 512",
                                           "--size 32M",
                                           "--size 32M --sector-size 4096 --record-size 1024"));

// Thousands of files with data in one directory: the data takes the
// clusters behind each MFT growth, so each growth adds a run to record 0,
// and the record bitmap outgrows the record and moves into clusters; the
// names stay listed in order as every third is removed.
using MftGrowthTest = test::VolumeTest;

TEST_F(MftGrowthTest, ManyFilesGrowTheMftAndItsBitmapMovesIntoClusters) {
  FormatAndMount("--size 64M --cluster-size 512");
  const test::Bytes data(2000, 0x5A);
  std::vector<std::string> names;
  for (int i = 0; i < 5200; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file-%04d-%s", (i * 7919) % 5200, "abcdefghijklmnop");
    names.push_back(name);
    ASSERT_EQ(test::WritePath("/1/" + names.back(), 0, data), 0) << name;
  }
  Toolkit* root = Open("/1");
  ASSERT_NE(root, nullptr);
  const uint8_t* bitmap = FindAttribute(root, root->mftChain, AT_BITMAP);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_TRUE(AttrIsNonResident(bitmap));
  ToolkitClose(root);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(test::NamesIn("/1"), names);
  std::vector<std::string> left;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i % 3 == 0) {
      ASSERT_EQ(ToolkitRemove(("/1/" + names[i]).c_str()), 0) << names[i];
    } else {
      left.push_back(names[i]);
    }
  }
  EXPECT_EQ(test::NamesIn("/1"), left);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
