// Opening files: modes, creation, truncation, append, "+" and refusals
// (by the path, the mode, or a descriptor that forbids writing).
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using namespace test;

class FileOpenTest : public test::FileioTest {
 protected:
  // Opens expecting failure; returns standard error.
  std::string Refused(const std::string& path, const char* mode) {
    VRAX_FILE* file = nullptr;
    const std::string err = CapturedStderr([&] { file = VRAX_fopen64(path.c_str(), mode); });
    EXPECT_EQ(file, nullptr) << path << " " << mode;
    VRAX_fclose(file);
    return err;
  }
};

const std::vector<uint8_t> kHello = {'h', 'e', 'l', 'l', 'o'};

TEST_F(FileOpenTest, RefusalsPrintTheModeThePathAndTheError) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", kHello);
  WriteFile("/1/ro", kHello);
  PatchDescriptor("/1/ro", 0, {0x09});  // a descriptor for owner and public reading only
  ASSERT_EQ(VRAX_mkdir("/1/d"), 0);
  const std::string notFound = "ERROR #3: The system cannot find the path specified.\n";
  const std::string denied = "ERROR #5: Access is denied.\n";
  const struct {
    std::string path;
    const char* mode;
    std::string err;
  } cases[] = {
      {"/1/nope", "rb", "Cannot open for rb: /1/nope\n" + notFound},
      {"/1/no/f", "wb", "Cannot open for wb: /1/no/f\n" + notFound},
      {"/1/f", "xb", "Cannot open for xb: /1/f\nERROR #-1\n"},
      {"/1/f", nullptr, "Cannot open for (null): /1/f\nERROR #-1\n"},
      {"/1/d", "rb", "fopen /1/d is a directory\nCannot open for rb: /1/d\n" + denied},
      {"/1/", "wb", "Cannot open for wb: /1/\n" + denied},
      {"/1/ro", "wb", "Cannot open for wb: /1/ro\n" + denied},
      {"/1/ro", "r+", "Cannot open for r+: /1/ro\n" + denied},
  };
  for (const auto& c : cases) EXPECT_EQ(Refused(c.path, c.mode), c.err);
  EXPECT_EQ(VRAX_LastError(), 5);
  Refused(std::string(), "rb");
  CapturedStderr([&] { EXPECT_EQ(VRAX_fopen64(nullptr, "rb"), nullptr); });
  EXPECT_EQ(ReadFile("/1/ro"), kHello);
  ExpectClean();
}

// Each mode on a file holding "hello": the access bits, the size once open
// ("w" empties), where the handle starts ("a" at the end), and the file
// after writing "XY" there.
TEST_F(FileOpenTest, ModesGiveAccessStartAndTruncation) {
  FormatAndMount("--size 8M");
  const uint32_t both = kAccessRead | kAccessWrite;
  const struct {
    const char* mode;
    uint32_t access;
    off_t sizeOnceOpen;
    uint64_t start;
    std::string after;
  } cases[] = {
      {"rb+", both, 5, 0, "XYllo"},         {"wb", kAccessWrite, 0, 0, "XY"},
      {"w+", both, 0, 0, "XY"},             {"ab", kAccessWrite, 5, 5, "helloXY"},
      {"ab+", both, 5, 5, "helloXY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    WriteFile("/1/f", kHello);
    VRAX_FILE* file = VRAX_fopen64("/1/f", c.mode);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->access, c.access);
    EXPECT_EQ(file->position, c.start);
    EXPECT_EQ(Stat("/1/f").st_size, c.sizeOnceOpen);
    EXPECT_EQ(VRAX_fwrite("XY", 1, 2, file), 2u);
    const std::vector<uint8_t> after(c.after.begin(), c.after.end());
    if ((c.access & kAccessRead) != 0) {
      EXPECT_EQ(ReadAt(file, 0, 100), after);
    }
    VRAX_fclose(file);
    EXPECT_EQ(ReadFile("/1/f"), after);
  }
  // Appending handles seek freely but do not read; "a" creates a missing
  // file.
  VRAX_FILE* file = VRAX_fopen64("/1/f", "ab");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(VRAX_fseeko64(file, 1, SEEK_SET), 0);
  EXPECT_EQ(VRAX_fwrite("E", 1, 1, file), 1u);
  char byte = 0;
  EXPECT_EQ(CapturedStderr([&] {
              EXPECT_EQ(VRAX_fread(&byte, 1, 1, file), 0u);
              EXPECT_EQ(VRAX_fread(&byte, 1, 1, nullptr), 0u);
              EXPECT_EQ(VRAX_fwrite(&byte, 1, 1, nullptr), 0u);
            }),
            "File not opened for read\nFile not open\nFile not open\n");
  VRAX_fclose(file);
  EXPECT_EQ(VRAX_fclose(nullptr), 0);
  EXPECT_EQ(ReadFile("/1/f"), (std::vector<uint8_t>{'h', 'E', 'l', 'l', 'o', 'X', 'Y'}));
  file = VRAX_fopen64("/1/new", "a");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->position, 0u);
  VRAX_fclose(file);
  EXPECT_EQ(Stat("/1/new").st_size, 0);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
