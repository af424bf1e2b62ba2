#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vrax::app {
namespace {

// Parses the words as they would follow the program name.
bool Parse(std::vector<std::string> words, Options& options) {
  std::vector<const char*> argv = {"vrax"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(Options, DefaultsAndCombinedLettersWithValues) {
  Options d;
  ASSERT_TRUE(Parse({}, d));
  EXPECT_EQ(DrivePath(d), "/1");
  EXPECT_EQ(d.port, 21);
  EXPECT_EQ(d.login, "kel");
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

TEST(Options, Quirks) {
  Options dw;  // a value letter without '=' takes the empty text
  ASSERT_TRUE(Parse({"-dw", "-u"}, dw));
  EXPECT_EQ(dw.device, 0);
  EXPECT_EQ(dw.readOnly, 1);
  EXPECT_EQ(dw.login, "");
  Options n;  // numbers take their leading digits
  ASSERT_TRUE(Parse({"-d=3x", "-f=abc"}, n));
  EXPECT_EQ(n.device, 3);
  EXPECT_EQ(n.port, 0);
  Options big;
  ASSERT_TRUE(Parse({"-f=99999999999999999999"}, big));
  EXPECT_GT(big.port, 0);
  Options counted;  // flags count their repeats
  ASSERT_TRUE(Parse({"-A", "-aB"}, counted));
  EXPECT_EQ(counted.anonymous, 2);
  EXPECT_EQ(counted.noBuffering, 1);
  Options other;  // words that are not options are ignored
  ASSERT_TRUE(Parse({"foo", "-5", "-", "--x", "-.", "-f=2000", "x-h"}, other));
  EXPECT_EQ(other.port, 2000);
  for (const char* word : {"-W=", "-h", "-q", "-a=1", "-a?", "-ab1"}) {
    Options o;
    EXPECT_FALSE(Parse({word}, o)) << word;
  }
}

TEST(Options, UsageAndSettingsTexts) {
  const std::string usage = UsageText();
  EXPECT_EQ(usage.rfind("usage vrax -<options>\n", 0), 0u);
  for (const char* line : {"  -a ", "  -d=<num> ", "  -i=<str> ", "  -w ", "  -b ", "  -f=<num> ",
                           "  -p=<str> ", "  -u=<str> ", "  -z "}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  }
  Options o;
  EXPECT_EQ(SettingsText(o),
            "   -------------------------------------------------------\n"
            "    FTP Server Port: 21\n"
            "          Anonymous: Disabled\n"
            "         Login Name: kel\n"
            "           Password: <none>\n"
            "   -------------------------------------------------------\n");
  o.anonymous = 2;
  o.password = "pw";
  const std::string text = SettingsText(o);
  EXPECT_NE(text.find("          Anonymous: Allowed\n"), std::string::npos);
  EXPECT_NE(text.find("           Password: pw\n"), std::string::npos);
}

}  // namespace
}  // namespace vrax::app
