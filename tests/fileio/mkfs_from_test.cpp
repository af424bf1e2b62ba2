// vrax-mkfs --from: a host folder tree copied into a new volume.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

namespace fs = std::filesystem;
using test::PatternBytes;

constexpr std::time_t kWhen = 1614834395;  // early March 2021

class MkfsFromTest : public test::FileioTest {
 protected:
  std::string Host(const std::string& relative) { return dir_.File("src/" + relative); }

  void HostFile(const std::string& relative, const std::vector<uint8_t>& bytes) {
    test::WriteFileBytes(Host(relative), bytes);
  }

  void SetHostTime(const std::string& relative, std::time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Host(relative).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }

  int Format(const std::string& image, const std::string& size) {
    return test::FormatVolume(image, "--size " + size + " --from '" + dir_.File("src") + "'");
  }

  std::string Log(const std::string& image) {
    const auto bytes = test::ReadFileBytes(image + ".log");
    return std::string(bytes.begin(), bytes.end());
  }
};

// Files and folders are copied with their data and times; what the volume
// cannot hold (a name too long or starting with a forbidden character, a
// link, a pipe, a name taken in another letter case, a file too large for
// any volume and one larger than the room left) is skipped and logged.
TEST_F(MkfsFromTest, CopiesTheTreeAndSkipsWhatItCannotStore) {
  fs::create_directories(Host("sub/nested"));
  HostFile("a.txt", {'h', 'i'});
  HostFile("big.bin", PatternBytes(1 << 20, 5));
  HostFile("sub/nested/deep.txt", {'d'});
  HostFile("twenty-eight-characters-long", {'2'});
  HostFile("twenty-nine-characters-long.x", {'2'});
  HostFile("-dash.txt", {'-'});
  HostFile("Case.txt", {'C'});
  HostFile("case.txt", {'c'});
  HostFile("huge.bin", {});
  ASSERT_EQ(truncate(Host("huge.bin").c_str(), off_t{1} << 32), 0);
  HostFile("large.bin", {});
  ASSERT_EQ(truncate(Host("large.bin").c_str(), off_t{40} << 20), 0);
  fs::create_symlink("a.txt", Host("link"));
  ASSERT_EQ(mkfifo(Host("pipe").c_str(), 0600), 0);
  SetHostTime("sub/nested/deep.txt", kWhen);
  SetHostTime("sub/nested", kWhen + 60);
  image_ = dir_.File("volume.img");
  ASSERT_EQ(Format(image_, "32M"), 0) << Log(image_);
  const std::string log = Log(image_);
  for (const char* skipped : {"twenty-nine-characters-long.x", "-dash.txt", "link", "pipe",
                              "case.txt", "huge.bin", "large.bin"}) {
    EXPECT_NE(log.find("skipped " + Host(skipped) + ": "), std::string::npos) << skipped << log;
  }
  EXPECT_EQ(test::RunChecker(image_).exitCode, 0);
  const std::string again = dir_.File("again.img");  // the same tree gives the same volume
  ASSERT_EQ(Format(again, "32M"), 0);
  EXPECT_TRUE(test::ReadFileBytes(again) == test::ReadFileBytes(image_));
  Mount();
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"a.txt", "big.bin", "Case.txt", "sub",
                                                     "twenty-eight-characters-long"}));
  EXPECT_EQ(ReadFile("/1/big.bin"), PatternBytes(1 << 20, 5));
  EXPECT_EQ(ReadFile("/1/case.txt"), std::vector<uint8_t>{'C'});
  EXPECT_EQ(Stat("/1/sub/nested/deep.txt").st_mtime, test::AsStored(kWhen));
  EXPECT_EQ(Stat("/1/sub/nested").st_mtime, test::AsStored(kWhen + 60));
}

// The image being written inside the tree is skipped; a missing source
// folder is refused before anything is formatted.
TEST_F(MkfsFromTest, TheImageItselfIsSkippedAndAMissingSourceRefused) {
  image_ = dir_.File("volume.img");
  EXPECT_EQ(Format(image_, "8M"), 1);
  EXPECT_FALSE(fs::exists(image_));
  fs::create_directories(Host(""));
  HostFile("small.txt", {'s'});
  image_ = Host("volume.img");
  ASSERT_EQ(Format(image_, "8M"), 0);
  ExpectClean();
  Mount();
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"small.txt", "volume.img.log"}));
}

}  // namespace
}  // namespace vrax
