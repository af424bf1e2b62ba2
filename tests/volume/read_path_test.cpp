#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "platform/error_codes.h"
#include "support/sample_volume.h"
#include "volume/attributes/attributes.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/index/index.h"

namespace vrax {
namespace {

class PathTest : public test::VolumeTest {
 protected:
  void SetUp() override { Mount(test::SharedSample().path, false); }


  // The records ReadDirectory gives ".." and "." (names: read_index_test.cpp).
  std::vector<uint32_t> DotRecords(const std::string& path) {
    const auto listing = List(path, 0);
    return {listing.at(0).second, listing.at(1).second};
  }

  const test::SampleVolume& paths_ = test::SharedSample().volume;
};


// Nested directories, "." and ".." inside the path (the root is its own
// parent), names in any letter case; missing components are not found.
TEST_F(PathTest, PathsOpenTheRecordsTheyName) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"/1/a/b/c/deep.txt", paths_.deep},
      {"/1/a/note.txt", paths_.note},
      {"/1/a/b/c/..", paths_.b},
      {"/1/a/..", 5u},
      {"/1/a/b/c/../../../..", 5u},
      {"/1/a/./b/../b/./c/deep.txt", paths_.deep},
      {"/1/ReadMe", paths_.readme},
      {"/1/docs", paths_.docs},
      {"/1/A/B/C/DEEP.TXT", paths_.deep},
  };
  for (const auto& [path, record] : cases) EXPECT_EQ(test::RecordOfPath(path), record) << path;
  for (const char* path : {"/1/readm", "/1/readme2", "/1/a/x/c", "/1/a/b/c/deep",
                           "/1/Docs/anything", "/1/README/x"}) {
    EXPECT_EQ(OpenResult(path), kErrPathNotFound) << path;
  }
}

TEST_F(PathTest, WalkPathStartsAtTheGivenRecord) {
  Toolkit* t = Open("/1");
  ASSERT_NE(t, nullptr);
  uint32_t n = 0;
  EXPECT_EQ(WalkPath(t, paths_.a, "b/c/deep.txt", n), 0);
  EXPECT_EQ(n, paths_.deep);
  EXPECT_EQ(WalkPath(t, paths_.b, "", n), kErrPathNotFound);
  EXPECT_EQ(n, 0xFFFFFFFFu);
  ToolkitClose(t);
}

TEST_F(PathTest, DirectoriesListTheirParentAndThemselves) {
  EXPECT_EQ(DotRecords("/1/a/b/c"), (std::vector<uint32_t>{paths_.b, paths_.c}));
  EXPECT_EQ(DotRecords("/1/a"), (std::vector<uint32_t>{5u, paths_.a}));
  EXPECT_EQ(DotRecords("/1"), (std::vector<uint32_t>{5u, 5u}));
  EXPECT_EQ(List("/1/a"), (std::vector<std::pair<std::string, uint32_t>>{
                              {"b", paths_.b}, {"note.txt", paths_.note}}));
  EXPECT_EQ(List("/1").size(), 12u);
}

// An empty index lists only ".." and "." and finds nothing. A root value
// of no bytes answers 0 with the record all ones: not found for the walk.
TEST_F(PathTest, AnEmptyIndexListsOnlyDotDotAndDot) {
  for (const std::string path : {"/1/Docs", "/1/hollow"}) {
    EXPECT_EQ(DotRecords(path), (std::vector<uint32_t>{5u, test::RecordOfPath(path)})) << path;
    EXPECT_TRUE(List(path).empty()) << path;
    Toolkit* t = Open(path);
    ASSERT_NE(t, nullptr);
    uint32_t record = 0;
    EXPECT_EQ(IndexLookup(t, t->fileChain, "x", 1, record),
              path == "/1/Docs" ? kErrPathNotFound : 0);
    EXPECT_EQ(record, 0xFFFFFFFFu);
    ToolkitClose(t);
  }
  EXPECT_EQ(OpenResult("/1/hollow/x"), kErrPathNotFound);
}


TEST_F(PathTest, ReadsStopAtTheSize) {
  Toolkit* t = Open("/1/README");
  ASSERT_NE(t, nullptr);
  const std::vector<uint8_t> content = test::PatternBytes(100, 1);
  for (uint32_t offset : {0u, 1u, 50u, 99u, 100u, 104u}) {
    for (uint32_t count : {0u, 1u, 99u, 100u, 4096u})
      EXPECT_TRUE(test::ReadMatches(t, content, offset, count)) << offset << " " << count;
  }
  uint32_t size = 0;
  EXPECT_EQ(FileSize(t, size), 0);
  EXPECT_EQ(size, 100u);
  uint8_t bits = 0;
  EXPECT_EQ(ReadDescriptorAttributes(t, bits), 0);
  EXPECT_EQ(bits, kDescNewFile);
  ToolkitClose(t);
  t = Open("/1/empty.txt");
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(test::ReadMatches(t, {}, 0, 1));
  ToolkitClose(t);
}

// Missing data, a descriptor too short or missing, a call meant for the
// other kind of node: each call says so.
TEST_F(PathTest, CallsThatCannotBeAnsweredSaySo) {
  Toolkit* t = Open("/1/nodata");
  ASSERT_NE(t, nullptr);
  uint8_t buffer[64];
  uint32_t n = 1;
  EXPECT_EQ(FileRead(t, 0, 16, buffer, n), kErrPathNotFound);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FileSize(t, n), 0x7501);
  ToolkitClose(t);
  uint8_t d[kDescriptorSize] = {};
  uint8_t bits = 0xFF;
  t = Open("/1/shortdesc");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ReadDescriptor(t, d), kErrInvalidFunction);
  EXPECT_EQ(ReadDescriptorAttributes(t, bits), kErrInvalidFunction);
  EXPECT_EQ(bits, 0);
  ToolkitClose(t);
  t = Open("/1/nodesc");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ReadDescriptor(t, d), kErrPathNotFound);
  ToolkitClose(t);
  Toolkit* file = Open("/1/README");
  Toolkit* directory = Open("/1/a");
  ASSERT_NE(file, nullptr);
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(ReadDirectory(file, 0, 64, buffer, n), kErrAccessDenied);
  EXPECT_EQ(FileRead(directory, 0, 10, buffer, n), kErrAccessDenied);
  EXPECT_EQ(FileSize(directory, n), kErrAccessDenied);
  EXPECT_EQ(ReadDescriptor(directory, d), 0);
  EXPECT_EQ(d[0], kDescNewDirectory);
  EXPECT_EQ(GetBE32(d + 9), kDirectorySizeField);
  ToolkitClose(file);
  ToolkitClose(directory);
}

}  // namespace
}  // namespace vrax
