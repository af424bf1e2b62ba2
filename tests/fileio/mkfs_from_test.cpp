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

using test::PatternBytes;

namespace fs = std::filesystem;

const std::string kName28 = "twenty-eight-characters-long";
const std::string kName29 = "twenty-nine-characters-long.x";

void SetHostTime(const std::string& path, std::time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

using test::AsStored;

class MkfsFromTest : public test::FileioTest {
 protected:
  std::string Host(const std::string& relative) { return dir_.File("src/" + relative); }

  void HostFile(const std::string& relative, const std::vector<uint8_t>& bytes,
                std::time_t when) {
    test::WriteFileBytes(Host(relative), bytes);
    SetHostTime(Host(relative), when);
  }

  // The tree of the main test: nested folders, names at and over the
  // length limit, a forbidden first character, a link, a pipe, two names
  // that differ in letter case only, a hidden name, an empty folder, a
  // file larger than a volume's file can be and one larger than the room.
  void BuildTree() {
    fs::create_directories(Host("sub/nested"));
    fs::create_directories(Host("emptydir"));
    HostFile("a.txt", {'h', 'e', 'l', 'l', 'o'}, kWhen);
    HostFile("big.bin", PatternBytes(1 << 20, 5), kWhen + 3600);
    HostFile("sub/nested/deep.txt", {'d'}, kWhen + 7200);
    HostFile("sub/empty.dat", {}, kWhen);
    HostFile(kName28, {'2', '8'}, kWhen);
    HostFile(kName29, {'2', '9'}, kWhen);
    HostFile("-dash.txt", {'-'}, kWhen);
    HostFile("Case.txt", {'C'}, kWhen);
    HostFile("case.txt", {'c'}, kWhen);
    HostFile(".hidden", {'.'}, kWhen);
    SparseFile("huge.bin", uint64_t{1} << 32);
    SparseFile("large.bin", 40 << 20);
    fs::create_symlink("a.txt", Host("link"));
    ASSERT_EQ(mkfifo(Host("pipe").c_str(), 0600), 0);
    SetHostTime(Host("sub/nested"), kWhen + 60);
    SetHostTime(Host("sub"), kWhen + 120);
    SetHostTime(Host("emptydir"), kWhen + 180);
  }

  void SparseFile(const std::string& relative, uint64_t size) {
    const int fd = open(Host(relative).c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    close(fd);
  }

  int Format(const std::string& image, const std::string& size) {
    return test::FormatVolume(image, "--size " + size + " --from '" + dir_.File("src") + "'");
  }

  std::string Log(const std::string& image) {
    const auto bytes = test::ReadFileBytes(image + ".log");
    return std::string(bytes.begin(), bytes.end());
  }

  static constexpr std::time_t kWhen = 1614834395;  // early March 2021
};

TEST_F(MkfsFromTest, CopiesTheTreeAndReportsWhatItCannotStore) {
  BuildTree();
  image_ = dir_.File("volume.img");
  ASSERT_EQ(Format(image_, "32M"), 0) << Log(image_);
  const std::string log = Log(image_);
  const std::string src = dir_.File("src");
  for (const std::string& line :
       {"vrax-mkfs: skipped " + src + "/" + kName29 + ": name longer than 28 characters\n",
        "vrax-mkfs: skipped " + src +
            "/-dash.txt: name begins with a character the volume does not allow\n",
        "vrax-mkfs: skipped " + src + "/link: not a regular file or a folder\n",
        "vrax-mkfs: skipped " + src + "/pipe: not a regular file or a folder\n",
        "vrax-mkfs: skipped " + src + "/case.txt: the name is taken already",
        "vrax-mkfs: skipped " + src + "/huge.bin: larger than a file on the volume can be\n",
        "vrax-mkfs: skipped " + src + "/large.bin: no room left on the volume\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_NE(log.find("Copied from " + src + ": 7 files (1048586 bytes), 3 folders; 7 entries "
                     "skipped\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(test::RunChecker(image_).exitCode, 0);
  const std::string again = dir_.File("again.img");  // the same tree gives the same volume
  ASSERT_EQ(Format(again, "32M"), 0);
  EXPECT_TRUE(test::ReadFileBytes(again) == test::ReadFileBytes(image_));

  Mount();
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"a.txt", "big.bin", "Case.txt", "emptydir",
                                                     "sub", kName28}));
  EXPECT_EQ(Names("/1/sub/*"), (std::vector<std::string>{"empty.dat", "nested"}));
  EXPECT_EQ(ReadFile("/1/big.bin"), PatternBytes(1 << 20, 5));
  EXPECT_EQ(ReadFile("/1/a.txt"), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(ReadFile("/1/sub/nested/deep.txt"), std::vector<uint8_t>{'d'});
  EXPECT_EQ(ReadFile("/1/" + kName28), (std::vector<uint8_t>{'2', '8'}));
  EXPECT_EQ(ReadFile("/1/case.txt"), std::vector<uint8_t>{'C'});
  EXPECT_EQ(ReadFile("/1/.hidden"), std::vector<uint8_t>{'.'});
  EXPECT_EQ(Stat("/1/sub/empty.dat").st_size, 0);

  EXPECT_EQ(Stat("/1/sub/nested/deep.txt").st_mtime, AsStored(kWhen + 7200));
  EXPECT_EQ(Stat("/1/sub/nested").st_mtime, AsStored(kWhen + 60));
  EXPECT_EQ(Stat("/1/emptydir").st_mtime, AsStored(kWhen + 180));
  Unmount();
  ExpectClean();
}

TEST_F(MkfsFromTest, TheImageBeingWrittenInTheTreeIsSkipped) {
  fs::create_directories(Host(""));
  HostFile("small.txt", {'s'}, kWhen);
  image_ = Host("volume.img");
  ASSERT_EQ(Format(image_, "8M"), 0);
  EXPECT_NE(Log(image_).find("skipped " + image_ + ": the volume being written\n"),
            std::string::npos)
      << Log(image_);
  ExpectClean();
  Mount();
  EXPECT_EQ(Names("/1/*"), (std::vector<std::string>{"small.txt", "volume.img.log"}));
}

TEST_F(MkfsFromTest, AMissingSourceFolderIsRefusedBeforeFormatting) {
  image_ = dir_.File("volume.img");
  EXPECT_EQ(Format(image_, "8M"), 1);
  EXPECT_NE(Log(image_).find("not a folder"), std::string::npos) << Log(image_);
  EXPECT_FALSE(fs::exists(image_));
}

}  // namespace
}  // namespace vrax
