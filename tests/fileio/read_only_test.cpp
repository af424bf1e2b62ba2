// A drive mounted read-only refuses every kind of change with the error
// and its message, and never writes a byte: the image is compared byte for
// byte afterwards.
#include <functional>
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using namespace test;

class ReadOnlyTest : public test::FileioTest {};

// 0 when `path` opens in `mode` (the handle is closed again), else -1.
int Open(const char* path, const char* mode) {
  VRAX_FILE* file = VRAX_fopen64(path, mode);
  VRAX_fclose(file);
  return file != nullptr ? 0 : -1;
}

TEST_F(ReadOnlyTest, EveryChangeIsRefusedAndNothingIsWritten) {
  // A file in a run of clusters, a small file, an empty directory and a
  // full one.
  FormatAndMount("--size 16M");
  WriteFile("/1/big", PatternBytes(100000));
  WriteFile("/1/small", PatternBytes(10));
  ASSERT_EQ(VRAX_mkdir("/1/empty"), 0);
  ASSERT_EQ(VRAX_mkdir("/1/full"), 0);
  for (int i = 0; i < 200; ++i) WriteFile("/1/full/n" + std::to_string(i), {});
  Unmount();
  const std::vector<uint8_t> before = test::ReadFileBytes(image_);
  Mount(false);

  const std::string off = "Cannot write - disabled\n";
  const std::string denied = "ERROR #5: Access is denied.\n";
  const struct {
    std::function<int()> call;
    int result;
    std::string err;
  } cases[] = {
      {[] { return Open("/1/small", "wb"); }, -1, off + "Cannot open for wb: /1/small\n" + denied},
      {[] { return VRAX_mkdir("/1/x"); }, -1, off + "mkdir /1/x\n" + denied},
      {[] { return VRAX_rmdir("/1/empty"); }, -1, off + "rmdir /1/empty\n" + denied},
      {[] { return VRAX_rename("/1/big", "/1/g"); }, -1, off + "rename /1/big /1/g\n" + denied},
      {[] { return VRAX_remove("/1/small", 0); }, -1, off + "remove /1/small\n" + denied},
      {[] { return VRAX_remove("/1/small", 1); }, -1, off},
      {[] { return VRAX_SetModifiedTime("/1/big", 1600000000); }, 5, off},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    int result = 0;
    EXPECT_EQ(CapturedStderr([&] { result = c.call(); }), c.err);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(VRAX_LastError(), 5);
  }
  CapturedStderr([&] {
    for (const char* mode : {"w", "wb", "w+", "a", "ab", "a+", "r+", "rb+"}) {
      for (const char* path : {"/1/big", "/1/small", "/1/new", "/1/full/new", "/1/empty"}) {
        EXPECT_EQ(Open(path, mode), -1) << path << " " << mode;
      }
    }
  });
  // Writes through a read handle are refused; reading calls work.
  VRAX_FILE* file = VRAX_fopen64("/1/big", "rb");
  ASSERT_NE(file, nullptr);
  const auto bytes = PatternBytes(5000, 9);
  EXPECT_EQ(CapturedStderr([&] { EXPECT_EQ(VRAX_fwrite(bytes.data(), 1, bytes.size(), file), 0u); }),
            "File not opened for write\n");
  EXPECT_EQ(test::ReadAt(file, 0, 100000), PatternBytes(100000));
  VRAX_fclose(file);
  EXPECT_EQ(Names("/1/full/*").size(), 200u);
  Unmount();
  EXPECT_TRUE(test::ReadFileBytes(image_) == before) << "the read-only image changed";
}

}  // namespace
}  // namespace vrax
