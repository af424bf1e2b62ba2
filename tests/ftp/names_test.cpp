// Wildcards in listings and the names the volume can hold.
#include <gtest/gtest.h>

#include "ftp/name_glob.h"
#include "ftp/refusals.h"

namespace vrax::ftp {
namespace {

TEST(GlobMatch, StarsQuestionMarksAndLetterCase) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*", "a.txt", true},        {"*.txt", "a.txt", true},     {"*.txt", "a.txt.bak", false},
      {"*.TXT", "a.txt", true},    {"?.txt", "a.txt", true},     {"?.txt", "ab.txt", false},
      {"a*b*c", "aXbYc", true},    {"a*b*c", "aXbYcZ", false},   {"*a*", "banana", true},
      {"a**", "a", true},          {"f??.tmp", "f01.tmp", true}, {"f??.tmp", "f1.tmp", false},
      {"x*", "", false},           {"*", "", true},              {"*x*x*x*x*y", "xxxxxxxxxxxxxxxxxxxx", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GlobMatch(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }
  EXPECT_TRUE(HasWildcard("docs/*.txt"));
  EXPECT_FALSE(HasWildcard("docs/a.txt"));
}

TEST(NameRefusal, TheVolumesNameRules) {
  const struct {
    std::string name;
    const char* reason;  // empty: the volume holds it
  } cases[] = {
      {"a.txt", ""},
      {std::string(28, 'n'), ""},
      {"x-y #z", ""},  // refused characters are allowed after the first
      {std::string(29, 'n'), "names are at most 28 characters long"},
      {"", "a name cannot be empty"},
      {" x", "a name cannot begin with a blank"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameRefusal(c.name), c.reason) << c.name;
  for (const char first : std::string("-#^&;><*\\")) {
    EXPECT_EQ(NameRefusal(std::string(1, first) + "x"),
              std::string("a name cannot begin with '") + first + "'");
  }
  EXPECT_EQ(NameReply("-x"), "553 File name not allowed: a name cannot begin with '-'.\r\n");
  EXPECT_EQ(NameReply("ok"), std::nullopt);
}

}  // namespace
}  // namespace vrax::ftp
