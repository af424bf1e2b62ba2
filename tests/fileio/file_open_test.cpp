// Opening files: modes, creation, truncation, append, "+" and refusals.
#include <string>
#include <vector>

#include "fileio_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/format/descriptor.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {
namespace {

using test::CapturedStderr;
using test::ReadAt;

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

  // Clears the write bits of a file's descriptor (test set-up through the
  // volume core).
  void ForbidWriting(const std::string& path) {
    Toolkit* t = nullptr;
    ASSERT_EQ(ToolkitOpen(t, path.c_str()), 0);
    uint8_t descriptor[kDescriptorSize] = {};
    ASSERT_EQ(ReadDescriptor(t, descriptor), 0);
    descriptor[0] = 0x09;  // owner and public read only
    uint32_t done = 0;
    ASSERT_EQ(AttributeTransfer(t, AT_OSK_FILEDES, t->fileChain, descriptor, kDescriptorSize, 0,
                                done, kTransferWrite),
              0);
    ASSERT_EQ(WriteChain(t, t->fileChain), 0);
    ToolkitClose(t);
  }
};

const std::vector<uint8_t> kHello = {'h', 'e', 'l', 'l', 'o'};

TEST_F(FileOpenTest, RefusalsPrintTheModeThePathAndTheError) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", kHello);
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
      {"/1/f", "", "Cannot open for : /1/f\nERROR #-1\n"},
      {"/1/f", nullptr, "Cannot open for (null): /1/f\nERROR #-1\n"},
      {"/1/d", "rb", "fopen /1/d is a directory\nCannot open for rb: /1/d\n" + denied},
      {"/1/d", "wb", "fopen /1/d is a directory\nCannot open for wb: /1/d\n" + denied},
      {"/1", "rb", "Cannot open for rb: /1\n" + denied},
      {"/1/", "wb", "Cannot open for wb: /1/\n" + denied},
  };
  for (const auto& c : cases) EXPECT_EQ(Refused(c.path, c.mode), c.err);
  EXPECT_EQ(VRAX_LastError(), 5);
  const std::string err = Refused(std::string(), "rb");
  EXPECT_NE(err.find("Cannot open for rb: \n"), std::string::npos) << err;
  CapturedStderr([&] { EXPECT_EQ(VRAX_fopen64(nullptr, "rb"), nullptr); });
  ExpectClean();
}

TEST_F(FileOpenTest, WriteModeCreatesAMissingFileAndEmptiesAnExistingOne) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", std::vector<uint8_t>(10000, 7));
  EXPECT_EQ(Stat("/1/f").st_size, 10000);
  VRAX_FILE* file = VRAX_fopen64("/1/f", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(Stat("/1/f").st_size, 0);
  EXPECT_EQ(VRAX_fwrite(kHello.data(), 1, kHello.size(), file), 5u);
  VRAX_fclose(file);
  EXPECT_EQ(ReadFile("/1/f"), kHello);
  ExpectClean();
}

TEST_F(FileOpenTest, AppendModeStartsAtTheSizeAndSeeksFreely) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", kHello);
  VRAX_FILE* file = VRAX_fopen64("/1/f", "ab");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->position, 5u);
  EXPECT_EQ(VRAX_fwrite("12", 1, 2, file), 2u);
  EXPECT_EQ(VRAX_fseeko64(file, 1, SEEK_SET), 0);
  EXPECT_EQ(VRAX_fwrite("E", 1, 1, file), 1u);
  VRAX_fclose(file);
  const std::vector<uint8_t> expected = {'h', 'E', 'l', 'l', 'o', '1', '2'};
  EXPECT_EQ(ReadFile("/1/f"), expected);
  file = VRAX_fopen64("/1/new", "a");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->position, 0u);
  VRAX_fclose(file);
  EXPECT_EQ(Stat("/1/new").st_size, 0);
  ExpectClean();
}

TEST_F(FileOpenTest, PlusModesReadAndWrite) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", kHello);
  VRAX_FILE* file = VRAX_fopen64("/1/f", "r+b");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->access, kAccessRead | kAccessWrite);
  EXPECT_EQ(VRAX_fwrite("J", 1, 1, file), 1u);
  EXPECT_EQ(ReadAt(file, 0, 5), (std::vector<uint8_t>{'J', 'e', 'l', 'l', 'o'}));
  VRAX_fclose(file);

  file = VRAX_fopen64("/1/f", "w+");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->access, kAccessRead | kAccessWrite);
  EXPECT_EQ(VRAX_fwrite("xyz", 1, 3, file), 3u);
  EXPECT_EQ(ReadAt(file, 1, 10), (std::vector<uint8_t>{'y', 'z'}));
  VRAX_fclose(file);

  file = VRAX_fopen64("/1/f", "ab+");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->access, kAccessRead | kAccessWrite);
  EXPECT_EQ(file->position, 3u);
  VRAX_fclose(file);
  ExpectClean();
}

TEST_F(FileOpenTest, AHandleMovesDataOnlyTheWaysItWasOpenedFor) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", kHello);
  VRAX_FILE* file = VRAX_fopen64("/1/f", "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->access, kAccessRead);
  std::string err = CapturedStderr([&] { EXPECT_EQ(VRAX_fwrite("x", 1, 1, file), 0u); });
  EXPECT_EQ(err, "File not opened for write\n");
  VRAX_fclose(file);
  file = VRAX_fopen64("/1/f", "ab");
  ASSERT_NE(file, nullptr);
  char byte = 0;
  err = CapturedStderr([&] { EXPECT_EQ(VRAX_fread(&byte, 1, 1, file), 0u); });
  EXPECT_EQ(err, "File not opened for read\n");
  VRAX_fclose(file);
  err = CapturedStderr([&] {
    EXPECT_EQ(VRAX_fread(&byte, 1, 1, nullptr), 0u);
    EXPECT_EQ(VRAX_fwrite(&byte, 1, 1, nullptr), 0u);
  });
  EXPECT_EQ(err, "File not open\nFile not open\n");
  VRAX_FILE closed;
  err = CapturedStderr([&] { EXPECT_EQ(VRAX_fread(&byte, 1, 1, &closed), 0u); });
  EXPECT_EQ(err, "File not open\n");
  EXPECT_EQ(VRAX_fclose(nullptr), 0);
}

// Neither a descriptor without write bits nor a read-only drive lets a
// file open for writing.
TEST_F(FileOpenTest, WritingRefusedByTheDescriptorOrTheDrive) {
  FormatAndMount("--size 8M");
  WriteFile("/1/f", kHello);
  WriteFile("/1/g", kHello);
  ForbidWriting("/1/f");
  const std::string denied = "ERROR #5: Access is denied.\n";
  for (const char* mode : {"wb", "ab", "r+"}) {
    EXPECT_EQ(Refused("/1/f", mode), std::string("Cannot open for ") + mode + ": /1/f\n" + denied);
  }
  EXPECT_EQ(ReadFile("/1/f"), kHello);
  Mount(false);
  const std::string disabled = "Cannot write - disabled\n";
  for (const char* path : {"/1/g", "/1/new"}) {
    EXPECT_EQ(Refused(path, "wb"),
              disabled + "Cannot open for wb: " + std::string(path) + "\n" + denied);
  }
  EXPECT_EQ(Refused("/1/g", "ab"), disabled + "Cannot open for ab: /1/g\n" + denied);
  EXPECT_EQ(Refused("/1/g", "rb+"), disabled + "Cannot open for rb+: /1/g\n" + denied);
  EXPECT_EQ(ReadFile("/1/g"), kHello);
}

}  // namespace
}  // namespace vrax
