#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vrax::app {
namespace {

// Parses the words as they would follow the program name.
bool Parse(const std::vector<std::string>& words, Options& options,
           std::string* invalidWord = nullptr) {
  std::vector<const char*> argv = {"vrax"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), options, invalidWord);
}

TEST(Options, CombinedLettersWithValues) {
  Options o;
  ASSERT_TRUE(Parse({"-awz", "-d=2", "-f=2121", "-U=bob", "-p=a=b-c", "-i=/tmp/disk.img"}, o));
  EXPECT_EQ(o.anonymous, 1);
  EXPECT_EQ(o.readOnly, 1);
  EXPECT_EQ(o.debug, 1);
  EXPECT_EQ(DrivePath(o), "/2");
  EXPECT_EQ(o.port, 2121);
  EXPECT_EQ(o.login, "bob");  // letters in either case
  EXPECT_EQ(o.password, "a=b-c");  // a value runs to the end of the word
  EXPECT_EQ(o.image, "/tmp/disk.img");
}

// Command lines that are accepted: the port and the help request they give.
TEST(Options, AcceptedCommandLines) {
  const struct {
    std::vector<std::string> words;
    int port;
    bool help;
  } cases[] = {
      {{}, 21, false},
      {{"-f=1"}, 1, false},
      {{"-f=65535"}, 65535, false},
      {{"-F=2121", "-f=02122"}, 2122, false},  // the last one counts
      {{"-ah"}, 21, true},
      {{"-f=2000", "--help"}, 2000, true},
      // words that are not options are ignored
      {{"foo", "-5", "-", "-.", "-f=2000", "x-h", "x--bogus"}, 2000, false},
  };
  for (const auto& c : cases) {
    Options o;
    ASSERT_TRUE(Parse(c.words, o)) << ::testing::PrintToString(c.words);
    EXPECT_EQ(o.port, c.port) << ::testing::PrintToString(c.words);
    EXPECT_EQ(o.help, c.help) << ::testing::PrintToString(c.words);
  }
}

// Command lines that are refused; the last word is the one at fault.
TEST(Options, RefusedCommandLinesNameTheWordAtFault) {
  const std::vector<std::vector<std::string>> cases = {
      {"-f=0"}, {"-f=65536"}, {"-f=99999"}, {"-f=99999999999999999999"}, {"-f=abc"},
      {"-f="}, {"-f"}, {"-fa"}, {"-f=-21"}, {"-f=+21"}, {"-f=21x"}, {"-f= 21"},
      {"--bogus"}, {"--"}, {"--HELP"}, {"--help=1"}, {"--help", "--x"}, {"-f=2121", "--port=1"},
      {"-W="}, {"-q"}, {"-a=1"}, {"-a?"}, {"-ab1"},
  };
  for (const std::vector<std::string>& words : cases) {
    Options o;
    std::string invalid;
    EXPECT_FALSE(Parse(words, o, &invalid)) << words.back();
    EXPECT_EQ(invalid, words.back());
  }
}

}  // namespace
}  // namespace vrax::app
