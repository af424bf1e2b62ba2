#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fsck/repair.h"
#include "helpers.h"
#include "platform/error_codes.h"
#include "support/image_toolkit.h"
#include "support/volume_fixture.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/index/index_update.h"

namespace vrax {
namespace {

class DamageAtChangeTest : public test::VolumeTest {
 protected:
  // Runs `change` on the damaged volume: it must fail with 114, leave the
  // image as it was and print the repair line naming `path`.
  void ExpectRefused(const std::string& path, const std::function<int32_t()>& change) {
    const auto before = test::ReadFileBytes(image_);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(change(), kErrBadStructure) << path;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Volume damage at " + path + ": "), std::string::npos) << err;
    EXPECT_NE(err.find("; run vrax-fsck --repair on the volume"), std::string::npos) << err;
    EXPECT_TRUE(test::ReadFileBytes(image_) == before) << path << ": the image changed";
  }

  void ExpectRepaired() {
    Unmount();
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(fsck::RepairVolume(image_, false, out, out), 1);
    std::fclose(out);
    ExpectClean();
  }
};

TEST_F(DamageAtChangeTest, IndexBitmapShorterThanItsBlocks) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(ToolkitMakeDirectory("/1/d"), 0);
  ASSERT_EQ(test::CreatePath("/1/d/a"), 0);
  Toolkit* t = Open("/1/d");
  ASSERT_EQ(SetAttributeSize(t, t->fileChain, AT_BITMAP, 0), 0);
  ASSERT_EQ(WriteChain(t, t->fileChain), 0);
  ToolkitClose(t);
  ExpectRefused("/1/d/b", [] { return test::CreatePath("/1/d/b"); });
  ExpectRefused("/1/d", [] { return ToolkitRemove("/1/d/a"); });  // names the directory
  ExpectRepaired();
}

TEST_F(DamageAtChangeTest, NameLeadingToAFreeRecord) {
  FormatAndMount("--size 8M");
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitCreateFile(t, "/1/f"), 0);
  ASSERT_EQ(SetRecordBit(t, kRecordFree, OpenedRecordNumber(t)), 0);
  ToolkitClose(t);
  ExpectRefused("/1/f", [] { return ToolkitRemove("/1/f"); });
  ExpectRefused("/1/f", [] { return ToolkitRename("/1/f", "/1/g"); });
  ExpectRepaired();
}

TEST_F(DamageAtChangeTest, NameOfARecordThatLivesElsewhere) {
  FormatAndMount("--size 8M");
  ASSERT_EQ(ToolkitMakeDirectory("/1/x"), 0);
  ASSERT_EQ(ToolkitMakeDirectory("/1/y"), 0);
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitCreateFile(t, "/1/x/a"), 0);
  const uint32_t a = OpenedRecordNumber(t);
  ToolkitClose(t);
  t = Open("/1/y");
  ASSERT_EQ(IndexInsert(t, t->fileChain, "alias", 5, a), 0);  // a second name, elsewhere
  ToolkitClose(t);
  ExpectRefused("/1/y/alias", [] { return ToolkitRemove("/1/y/alias"); });
  ExpectRefused("/1/y/alias", [] { return ToolkitRename("/1/y/alias", "/1/y/b"); });
  ExpectRepaired();
  Mount(image_);
  EXPECT_EQ(test::RecordOfPath("/1/x/a"), a);
  EXPECT_NE(OpenResult("/1/y/alias"), 0);
}

TEST_F(DamageAtChangeTest, RecordFailingItsFixups) {
  FormatAndMount("--size 8M");
  Toolkit* t = nullptr;
  ASSERT_EQ(ToolkitCreateFile(t, "/1/torn"), 0);
  const uint32_t n = OpenedRecordNumber(t);
  const uint64_t at = static_cast<uint64_t>(t->mftLcn) * t->clusterSize + n * t->recordSize;
  ToolkitClose(t);
  Unmount();
  test::ImageBuilder(image_).WriteBytes(at + 510, {0x5A, 0xA5});  // the first sector's stretch end
  Mount(image_);
  ExpectRefused("/1/torn", [] { return ToolkitRemove("/1/torn"); });
  ExpectRefused("/1/torn", [] { return ToolkitRename("/1/torn", "/1/t2"); });
}

TEST_F(DamageAtChangeTest, RepairRefusesAVolumeInUse) {
  FormatAndMount("--size 8M");  // the mount holds the exclusive lock, as vrax does
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(fsck::RepairVolume(image_, false, out, out), 8);
  std::fclose(out);
}

}  // namespace
}  // namespace vrax
