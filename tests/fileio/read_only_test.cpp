// A drive mounted read-only never writes a byte: every kind of change is
// attempted and the image compared byte for byte.
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using test::CapturedStderr;
using test::PatternBytes;

class ReadOnlyTest : public test::FileioTest {
 protected:
  // A volume with a file in a run of clusters, a small file, an empty
  // directory and a full one.
  void Populate() {
    FormatAndMount("--size 16M");
    WriteFile("/1/big", PatternBytes(100000));
    WriteFile("/1/small", PatternBytes(10));
    ASSERT_EQ(VRAX_mkdir("/1/empty"), 0);
    ASSERT_EQ(VRAX_mkdir("/1/full"), 0);
    for (int i = 0; i < 200; ++i) WriteFile("/1/full/n" + std::to_string(i), {});
    Unmount();
    before_ = test::ReadFileBytes(image_);
    Mount(false);
  }

  void ExpectRefused(const char* path, const char* mode) {
    VRAX_FILE* file = VRAX_fopen64(path, mode);
    EXPECT_EQ(file, nullptr) << path << " " << mode;
    VRAX_fclose(file);
  }

  void ExpectUnchanged() {
    Unmount();
    EXPECT_TRUE(test::ReadFileBytes(image_) == before_) << "the read-only image changed";
  }

  std::vector<uint8_t> before_;
};

TEST_F(ReadOnlyTest, NoKindOfChangeWritesAnything) {
  Populate();
  CapturedStderr([&] {
    for (const char* mode : {"w", "wb", "w+", "a", "ab", "a+", "r+", "rb+"}) {
      for (const char* path : {"/1/big", "/1/small", "/1/new", "/1/full/new", "/1/empty"}) {
        ExpectRefused(path, mode);
      }
    }
    EXPECT_EQ(VRAX_rename("/1/big", "/1/other"), -1);
    EXPECT_EQ(VRAX_rename("/1/full", "/1/Full"), -1);
    EXPECT_EQ(VRAX_remove("/1/small", 0), -1);
    EXPECT_EQ(VRAX_remove("/1/empty", 1), -1);
    EXPECT_EQ(VRAX_mkdir("/1/new"), -1);
    EXPECT_EQ(VRAX_mkdir("/1/full/new"), -1);
    EXPECT_EQ(VRAX_rmdir("/1/empty"), -1);
    EXPECT_EQ(VRAX_rmdir("/1/full/n7"), -1);
    EXPECT_EQ(VRAX_SetModifiedTime("/1/big", 1600000000), 5);
  });
  // Writes through a read handle are refused; reading calls work.
  VRAX_FILE* file = VRAX_fopen64("/1/big", "rb");
  ASSERT_NE(file, nullptr);
  const auto bytes = PatternBytes(5000, 9);
  CapturedStderr([&] {
    EXPECT_EQ(VRAX_fwrite(bytes.data(), 1, bytes.size(), file), 0u);
    VRAX_fseeko64(file, 200000, SEEK_SET);
    EXPECT_EQ(VRAX_fwrite(bytes.data(), 1, bytes.size(), file), 0u);
  });
  std::vector<uint8_t> back(100000);
  VRAX_fseeko64(file, 0, SEEK_SET);
  EXPECT_EQ(VRAX_fread(back.data(), 1, back.size(), file), back.size());
  EXPECT_EQ(back, PatternBytes(100000));
  VRAX_fclose(file);
  EXPECT_EQ(ReadFile("/1/small"), PatternBytes(10));
  EXPECT_EQ(Stat("/1/big").st_size, 100000);
  EXPECT_EQ(Names("/1/full/*").size(), 200u);
  EXPECT_EQ(Names("/1/*").size(), 4u);
  ExpectUnchanged();
}

}  // namespace
}  // namespace vrax
