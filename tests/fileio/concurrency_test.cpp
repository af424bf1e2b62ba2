// Many threads calling the interface at once: the interface lock lets one
// volume operation run at a time, so every thread's files come out as it
// wrote them and the volume stays consistent.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fileio_fixture.h"

namespace vrax {
namespace {

using test::PatternBytes;

constexpr int kThreads = 8;
constexpr int kRounds = 12;

class ConcurrencyTest : public test::FileioTest {};

// The work of one thread: its own folder with files it writes, appends,
// reads back, renames, lists and removes, and reads of a file every thread
// shares. Returns the number of checks that failed.
int Worker(int id, const std::vector<uint8_t>& shared) {
  int failures = 0;
  const std::string dir = "/1/t" + std::to_string(id);
  auto check = [&](bool ok) { failures += ok ? 0 : 1; };
  for (int round = 0; round < kRounds; ++round) {
    const std::string a = dir + "/a" + std::to_string(round % 3);
    const std::string b = dir + "/b" + std::to_string(round % 3);
    const auto bytes = PatternBytes(3000 + 1500 * static_cast<size_t>(id + round),
                                    static_cast<uint8_t>(id * 16 + round));
    VRAX_FILE* file = VRAX_fopen64(a.c_str(), "wb");
    check(file != nullptr && VRAX_fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    VRAX_fclose(file);
    file = VRAX_fopen64(a.c_str(), "ab");
    check(file != nullptr && VRAX_fwrite(bytes.data(), 1, 100, file) == 100);
    VRAX_fclose(file);

    std::vector<uint8_t> back(bytes.size() + 200);
    file = VRAX_fopen64(a.c_str(), "rb");
    check(file != nullptr && VRAX_fread(back.data(), 1, back.size(), file) == bytes.size() + 100);
    VRAX_fclose(file);
    check(std::equal(bytes.begin(), bytes.end(), back.begin()) &&
          std::equal(bytes.begin(), bytes.begin() + 100, back.begin() + bytes.size()));

    struct stat record {};
    check(VRAX_stat64(a.c_str(), &record) == 0 &&
          record.st_size == static_cast<off_t>(bytes.size() + 100));
    VRAX_remove(b.c_str(), 1);  // the file of three rounds ago, if any
    check(VRAX_rename(a.c_str(), b.c_str()) == 0);
    check(VRAX_remove(a.c_str(), 1) == -1);  // gone with the rename

    file = VRAX_fopen64("/1/shared", "rb");
    std::vector<uint8_t> piece(shared.size());
    check(file != nullptr && VRAX_fread(piece.data(), 1, piece.size(), file) == shared.size());
    VRAX_fclose(file);
    check(piece == shared);

    VraxFindData data;
    VRAX_FIND* find = VRAX_FindFirstFile((dir + "/*").c_str(), &data);
    check(find != kInvalidFind);
    while (VRAX_FindNextFile(find, &data) != 0) {
    }
    VRAX_FindClose(find);
    VRAX_FindClose(VRAX_FindFirstFile("/1/*", &data));
    if (round % 4 == 3) {
      const std::string sub = dir + "/sub";
      check(VRAX_mkdir(sub.c_str()) == 0 && VRAX_rmdir(sub.c_str()) == 0);
    }
  }
  return failures;
}

TEST_F(ConcurrencyTest, EightThreadsInterleaveEveryKindOfCall) {
  FormatAndMount("--size 32M");
  const auto shared = PatternBytes(70000, 0x3C);
  WriteFile("/1/shared", shared);
  for (int id = 0; id < kThreads; ++id) ASSERT_EQ(VRAX_mkdir(("/1/t" + std::to_string(id)).c_str()), 0);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  test::CapturedStderr([&] {
    for (int id = 0; id < kThreads; ++id) {
      threads.emplace_back([id, &shared, &failures] { failures += Worker(id, shared); });
    }
    for (std::thread& t : threads) t.join();
  });
  EXPECT_EQ(failures.load(), 0);
  for (int id = 0; id < kThreads; ++id) {
    EXPECT_EQ(Names("/1/t" + std::to_string(id) + "/*"),
              (std::vector<std::string>{"b0", "b1", "b2"}));
  }
  EXPECT_EQ(ReadFile("/1/shared"), shared);
  Unmount();
  ExpectClean();
}

}  // namespace
}  // namespace vrax
