// vrax-mkfs --from: a host folder tree copied into a new volume.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

namespace fs = std::filesystem;
using test::PatternBytes;

class MkfsFromTest : public test::FileioTest {
 protected:
  std::string Host(const std::string& relative) { return dir_.File("src/" + relative); }

  int Format(const std::string& image) {
    return test::FormatVolume(image, "--size 32M --from '" + dir_.File("src") + "'");
  }
};

// Files and folders are copied with their data and times; what the volume
// cannot hold (a name too long or starting with a forbidden character, a
// link, a name taken in another letter case, a file too large for any
// volume and one larger than the room left) is skipped and logged.
TEST_F(MkfsFromTest, CopiesTheTreeAndSkipsWhatItCannotStore) {
  fs::create_directories(Host("sub"));
  test::WriteFileBytes(Host("big.bin"), PatternBytes(1 << 20, 5));
  for (const char* name : {"sub/deep.txt", "twenty-eight-characters-long",
                           "twenty-nine-characters-long.x", "-dash.txt", "Case.txt", "case.txt"}) {
    test::WriteFileBytes(Host(name), {static_cast<uint8_t>(name[0])});
  }
  for (const auto& [name, size] :
       {std::pair{"huge.bin", off_t{1} << 32}, {"large.bin", off_t{40} << 20}}) {
    test::WriteFileBytes(Host(name), {});
    ASSERT_EQ(truncate(Host(name).c_str(), size), 0);
  }
  fs::create_symlink("big.bin", Host("link"));
  const std::time_t when = 1614834395;  // early March 2021
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Host("sub/deep.txt").c_str(), times, 0), 0);
  image_ = dir_.File("volume.img");
  ASSERT_EQ(Format(image_), 0);
  const auto log = test::ReadFileBytes(image_ + ".log");
  const std::string text(log.begin(), log.end());
  for (const char* skipped : {"twenty-nine-characters-long.x", "-dash.txt", "link", "case.txt",
                              "huge.bin", "large.bin"}) {
    EXPECT_NE(text.find("skipped " + Host(skipped) + ": "), std::string::npos) << text;
  }
  ExpectClean();
  Mount();
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"big.bin", "Case.txt", "sub",
                                                     "twenty-eight-characters-long"}));
  EXPECT_EQ(ReadFile("/1/big.bin"), PatternBytes(1 << 20, 5));
  EXPECT_EQ(ReadFile("/1/case.txt"), std::vector<uint8_t>{'C'});
  EXPECT_EQ(Stat("/1/sub/deep.txt").st_mtime, test::AsStored(when));
}

// A missing source folder is refused before anything is formatted; the
// image being written inside the tree is skipped.
TEST_F(MkfsFromTest, AMissingSourceIsRefusedAndTheImageItselfSkipped) {
  image_ = dir_.File("volume.img");
  EXPECT_EQ(Format(image_), 1);
  EXPECT_FALSE(fs::exists(image_));
  fs::create_directories(Host(""));
  image_ = Host("volume.img");
  ASSERT_EQ(Format(image_), 0);
  ExpectClean();
  Mount();
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"volume.img.log"}));
}

}  // namespace
}  // namespace vrax
