// Many threads calling the interface at once: the interface lock lets one
// volume operation run at a time, so every thread's files come out as it
// wrote them and the volume stays consistent.
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

class ConcurrencyTest : public test::FileioTest {
 protected:
  int Worker(int id, const std::vector<uint8_t>& shared);
};

// The work of one thread: its own folder with files it writes, appends,
// reads back, renames, lists and removes, and reads of a file every thread
// shares. Returns the number of checks that failed besides the fixture's.
int ConcurrencyTest::Worker(int id, const std::vector<uint8_t>& shared) {
  int failures = 0;
  const std::string dir = "/1/t" + std::to_string(id);
  auto check = [&](bool ok) { failures += ok ? 0 : 1; };
  for (int round = 0; round < kRounds; ++round) {
    const std::string a = dir + "/a" + std::to_string(round % 3);
    const std::string b = dir + "/b" + std::to_string(round % 3);
    const auto bytes = PatternBytes(3000 + 1500 * static_cast<size_t>(id + round),
                                    static_cast<uint8_t>(id * 16 + round));
    std::vector<uint8_t> expected = bytes;
    expected.insert(expected.end(), bytes.begin(), bytes.begin() + 100);
    WriteFile(a, bytes);
    WriteFile(a, {bytes.begin(), bytes.begin() + 100}, "ab");
    check(ReadFile(a) == expected);
    check(Stat(a).st_size == static_cast<off_t>(expected.size()));
    VRAX_remove(b.c_str(), 1);  // the file of three rounds ago, if any
    check(VRAX_rename(a.c_str(), b.c_str()) == 0);
    check(VRAX_remove(a.c_str(), 1) == -1);  // gone with the rename
    check(ReadFile("/1/shared") == shared);
    check(!Names(dir + "/*").empty());
    Names("/1/*");
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
      threads.emplace_back([this, id, &shared, &failures] { failures += Worker(id, shared); });
    }
    for (std::thread& t : threads) t.join();
  });
  EXPECT_EQ(failures.load(), 0);
  for (int id = 0; id < kThreads; ++id) {
    EXPECT_EQ(Names("/1/t" + std::to_string(id) + "/*"),
              (std::vector<std::string>{"b0", "b1", "b2"}));
  }
  EXPECT_EQ(ReadFile("/1/shared"), shared);
  ExpectClean();
}

}  // namespace
}  // namespace vrax
