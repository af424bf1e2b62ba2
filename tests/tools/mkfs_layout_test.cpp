// What vrax-mkfs writes: the boot sector and the system records, decoded
// the way the engine reads them. The two bitmaps are checked against the
// records by vrax-fsck on fresh volumes (fsck_test.cpp).
#include <gtest/gtest.h>


#include "mkfs_harness.h"
#include "support/temp_file.h"
#include "volume/format/attribute.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"

namespace vrax::mkfs_test {

using test::FileSize;
using test::MakeImage;
using test::PatternBytes;
using test::TempDir;
namespace {

struct Geometry {
  std::vector<std::string> options;
  uint32_t sectorSize;
  uint32_t clusterSize;
  uint32_t recordSize;
  uint32_t indexSize;
};

void PrintTo(const Geometry& g, std::ostream* os) {
  *os << g.sectorSize << "/" << g.clusterSize << "/" << g.recordSize << "/" << g.indexSize;
}

class MkfsLayout : public ::testing::TestWithParam<Geometry> {
 protected:
  void SetUp() override {
    path_ = dir_.File("volume.img");
    std::vector<std::string> args = GetParam().options;
    args.insert(args.end(), {"--size", "64M", path_});
    const ToolRun run = RunMkfs(args, dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    image_ = std::make_unique<FormattedImage>(path_);
  }

  std::vector<uint8_t> Record(uint32_t n) {
    std::vector<uint8_t> image;
    EXPECT_TRUE(image_->Record(n, image)) << "record " << n;
    return image;
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<FormattedImage> image_;
};

TEST_P(MkfsLayout, BootSectorCarriesTheGeometry) {
  const Geometry& g = GetParam();
  const BootSector& boot = image_->boot();
  EXPECT_EQ(boot.bytesPerSector, g.sectorSize);
  EXPECT_EQ(boot.sectorsPerCluster * g.sectorSize, g.clusterSize);
  EXPECT_EQ(boot.totalSectors, (64u << 20) / g.sectorSize);
  EXPECT_EQ(boot.recordSizeCode, g.recordSize);  // always a byte count
  EXPECT_EQ(boot.indexBlockSizeCode, g.indexSize);
  EXPECT_GT(boot.mftLcn, 0u);
  EXPECT_LT(boot.mftLcn, image_->clusterCount());
  EXPECT_EQ(FileSize(path_), 64u << 20);
}

// Every record the MFT holds is a sound FILE record: the system records
// with exact header counts, the others empty and ready for allocation.
TEST_P(MkfsLayout, EveryRecordIsSound) {
  for (uint32_t n = 0; n < image_->recordsHeld(); ++n) {
    std::vector<uint8_t> r = Record(n);
    ASSERT_EQ(ValidateRecord(r.data(), image_->recordSize(), image_->clusterCount()), 0) << n;
    EXPECT_EQ(GetLE16(r.data() + record::kUsaCount),
              RecordUsaCount(image_->recordSize(), GetParam().sectorSize));
    EXPECT_EQ(RecordBytesAllocated(r.data()), image_->recordSize());
    const std::vector<uint8_t*> attributes = Attributes(r);
    EXPECT_EQ(RecordAttributeCount(r.data()), attributes.size()) << n;
    const uint32_t end = static_cast<uint32_t>(
        FindAttributeInRecord(r.data(), image_->recordSize(), record::kEndMarker) - r.data());
    EXPECT_EQ(RecordBytesInUse(r.data()), end + record::kEndMarkerSize) << n;
    EXPECT_EQ(attributes.empty(), n >= record::kSystemRecords) << n;
  }
}

// Lengths as the engine computes them, so it can grow and shrink values in
// place: resident value space by type, run lists closed by a 0 byte.
TEST_P(MkfsLayout, AttributeLengthsFollowTheEngineRules) {
  for (uint32_t n = 0; n < record::kSystemRecords; ++n) {
    std::vector<uint8_t> r = Record(n);
    for (const uint8_t* a : Attributes(r)) {
      const uint32_t name = 2u * AttrNameLength(a);
      if (!AttrIsNonResident(a)) {
        EXPECT_EQ(AttrValueOffset(a), 0x18 + name);
        EXPECT_EQ(AttrLength(a), 0x18 + name + ResidentValueSpace(AttrType(a), AttrValueLength(a)));
        continue;
      }
      const uint32_t offset = AttrRunListOffset(a);
      uint32_t last = 0, lastLength = 0, encoded = 0;
      ASSERT_TRUE(RunListSummary(a + offset, AttrLength(a) - offset, last, lastLength, encoded));
      EXPECT_EQ(offset, 0x48 + name);
      EXPECT_EQ(AttrLength(a), (offset + encoded + 4) & ~1u);
      EXPECT_EQ(AttrFirstVcn(a), 0u);
      EXPECT_EQ(AttrLastVcn(a), (AttrDataSize(a) - 1) / image_->clusterSize());
      EXPECT_EQ(AttrInitializedSize(a), AttrDataSize(a));
      uint32_t clusters = 0;
      for (const Extent& e : FormattedImage::Runs(a)) clusters += e.length;
      EXPECT_EQ(AttrAllocatedSize(a), clusters * image_->clusterSize());
    }
  }
}

TEST_P(MkfsLayout, SystemRecordsAreNamedChildrenOfTheRoot) {
  for (uint32_t n = 0; n < record::kSystemRecords; ++n) {
    std::vector<uint8_t> r = Record(n);
    const std::vector<uint8_t> info = image_->Value(r, AT_STANDARD_INFORMATION);
    ASSERT_EQ(info.size(), 48u) << n;
    EXPECT_EQ(GetLE32(info.data() + 0x20), 0x26u);
    const std::vector<uint8_t> name = image_->Value(r, AT_FILE_NAME);
    std::string decoded;
    ASSERT_TRUE(DecodeFileName(name.data(), static_cast<uint32_t>(name.size()), decoded)) << n;
    EXPECT_EQ(FileNameParent(name.data()), record::kRoot);
    EXPECT_FALSE(decoded.empty());
    const std::vector<uint8_t> descriptor = image_->Value(r, AT_OSK_FILEDES);
    ASSERT_EQ(descriptor.size(), kDescriptorSize) << n;
    EXPECT_EQ(DescriptorSize(descriptor.data()),
              n == record::kRoot ? 0x8000u : image_->Value(r, AT_DATA).size())
        << n;
  }
}

TEST_P(MkfsLayout, RootIsAnEmptyNewDirectory) {
  std::vector<uint8_t> root = Record(record::kRoot);
  EXPECT_EQ(RecordFlags(root.data()), record::kFlagDirectory);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{AT_STANDARD_INFORMATION, 0},
                                                               {AT_FILE_NAME, 0},
                                                               {AT_SECURITY_DESCRIPTOR, 0},
                                                               {AT_OSK_FILEDES, 0},
                                                               {AT_INDEX_ROOT, 4},
                                                               {AT_INDEX_ALLOCATION, 4},
                                                               {AT_BITMAP, 4}};
  const std::vector<uint8_t*> attributes = Attributes(root);
  ASSERT_EQ(attributes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(AttrType(attributes[i]), expected[i].first);
    EXPECT_EQ(AttrNameLength(attributes[i]), expected[i].second);
    EXPECT_FALSE(AttrIsNonResident(attributes[i]));
  }
  std::vector<uint8_t> rootValue = image_->Value(root, AT_INDEX_ROOT);
  std::vector<uint8_t> emptyRoot(ie::kNewRootSize);
  BuildEmptyRoot(emptyRoot.data());
  EXPECT_EQ(rootValue, emptyRoot);
  EXPECT_TRUE(image_->Value(root, AT_INDEX_ALLOCATION).empty());
  EXPECT_TRUE(image_->Value(root, AT_BITMAP).empty());
  std::string name;
  const std::vector<uint8_t> fileName = image_->Value(root, AT_FILE_NAME);
  ASSERT_TRUE(DecodeFileName(fileName.data(), static_cast<uint32_t>(fileName.size()), name));
  EXPECT_EQ(name, ".");
  Descriptor d;
  DecodeDescriptor(image_->Value(root, AT_OSK_FILEDES).data(), d);
  EXPECT_EQ(d.bits, 0x9B);
  EXPECT_EQ(d.size, 0x8000u);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, MkfsLayout,
    ::testing::Values(
        Geometry{{}, 512, 4096, 1024, 4096},
        Geometry{{"--sector-size", "4096", "--record-size", "1K"}, 4096, 4096, 1024, 4096},
        Geometry{{"--cluster-size", "512", "--record-size", "2048"}, 512, 512, 2048, 4096},
        Geometry{{"--cluster-size", "64K", "--record-size", "64K"}, 512, 65536, 65536, 65536}));

}  // namespace
}  // namespace vrax::mkfs_test
