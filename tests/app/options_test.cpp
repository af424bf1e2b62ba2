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

TEST(Options, DefaultsWithoutWords) {
  Options o;
  ASSERT_TRUE(Parse({}, o));
  EXPECT_EQ(o.device, 1);
  EXPECT_EQ(DrivePath(o), "/1");
  EXPECT_EQ(o.port, 21);
  EXPECT_EQ(o.login, "kel");
  EXPECT_EQ(o.password, "");
  EXPECT_EQ(o.anonymous, 0);
  EXPECT_EQ(o.readOnly, 0);
  EXPECT_EQ(o.image, "");
}

TEST(Options, CombinedLettersAndValues) {
  Options o;
  ASSERT_TRUE(Parse({"-awz", "-d=2", "-f=2121", "-u=bob", "-p=s3cret"}, o));
  EXPECT_EQ(o.anonymous, 1);
  EXPECT_EQ(o.readOnly, 1);
  EXPECT_EQ(o.debug, 1);
  EXPECT_EQ(DrivePath(o), "/2");
  EXPECT_EQ(o.port, 2121);
  EXPECT_EQ(o.login, "bob");
  EXPECT_EQ(o.password, "s3cret");
}

TEST(Options, ValueLettersWithoutEqualsTakeTheEmptyText) {
  Options o;
  ASSERT_TRUE(Parse({"-d"}, o));
  EXPECT_EQ(o.device, 0);
  Options dw;
  ASSERT_TRUE(Parse({"-dw"}, dw));
  EXPECT_EQ(dw.device, 0);
  EXPECT_EQ(dw.readOnly, 1);
  Options u;
  ASSERT_TRUE(Parse({"-u"}, u));
  EXPECT_EQ(u.login, "");
}

TEST(Options, NumbersTakeTheirLeadingDigits) {
  Options o;
  ASSERT_TRUE(Parse({"-d=3x", "-f=abc"}, o));
  EXPECT_EQ(o.device, 3);
  EXPECT_EQ(o.port, 0);
  Options big;
  ASSERT_TRUE(Parse({"-f=99999999999999999999"}, big));
  EXPECT_GT(big.port, 0);
}

TEST(Options, LettersAreTakenInEitherCaseAndCounted) {
  Options o;
  EXPECT_FALSE(Parse({"-W="}, o));  // '=' after a counting letter
  Options p;
  ASSERT_TRUE(Parse({"-A", "-aB", "-U=Mixed"}, p));
  EXPECT_EQ(p.anonymous, 2);
  EXPECT_EQ(p.noBuffering, 1);
  EXPECT_EQ(p.login, "Mixed");
}

TEST(Options, ValueRunsToTheEndOfTheWord) {
  Options o;
  ASSERT_TRUE(Parse({"-p=a=b-c", "-i=/tmp/disk.img"}, o));
  EXPECT_EQ(o.password, "a=b-c");
  EXPECT_EQ(o.image, "/tmp/disk.img");
}

TEST(Options, UnknownCharactersAreRefused) {
  for (const char* word : {"-h", "-q", "-a=1", "-x", "-a?", "-ab1"}) {
    Options o;
    EXPECT_FALSE(Parse({word}, o)) << word;
  }
}

TEST(Options, OtherWordsAreIgnored) {
  Options o;
  ASSERT_TRUE(Parse({"foo", "-5", "-", "--x", "-.", "-f=2000", "x-h"}, o));
  EXPECT_EQ(o.port, 2000);
}

TEST(Options, UsageText) {
  EXPECT_EQ(UsageText(),
            "usage vrax -<options>\n"
            "  -a        Allow anonymous logins\n"
            "  -d=<num>  Specify windows device to mount (default 1)\n"
            "  -i=<str>  Specify disk image or block device to mount\n"
            "  -w        No write - mount drive for read only\n"
            "  -b        No buffer - disable caching\n"
            "  -f=<num>  Specify FTP port number to listen on (default 21)\n"
            "  -p=<str>  Specify password to use for non anonymous logins\n"
            "  -u=<str>  Specify user name for non anonymous logins\n"
            "   -------------------------------------------------------\n"
            "  -z        Enable Debug\n");
}

TEST(Options, SettingsText) {
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
  o.port = 65536;
  const std::string text = SettingsText(o);
  EXPECT_NE(text.find("          Anonymous: Allowed\n"), std::string::npos);
  EXPECT_NE(text.find("           Password: pw\n"), std::string::npos);
  EXPECT_NE(text.find("    FTP Server Port: 65536\n"), std::string::npos);
}

}  // namespace
}  // namespace vrax::app
