#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ftp/ftp_server.h"

namespace vrax::ftp {
namespace {

// BuildPath with start path /1 and the given current directory.
std::optional<std::string> Built(const char* argument, const char* current = "/docs",
                                 const char* start = "/1") {
  if (argument == nullptr) return CFtpServer::BuildPath(start, current, nullptr);
  std::string text = argument;
  return CFtpServer::BuildPath(start, current, &text);
}

TEST(NormalizePath, ResolvesDotsByTheirMeaning) {
  std::string empty;
  EXPECT_FALSE(CFtpServer::NormalizePath(empty));
  const struct {
    const char* path;
    const char* normalized;
  } cases[] = {
      {"/..x/y", "/..x/y"},   // names that merely begin with dots
      {"..", ".."},           // a relative path may climb from where it is joined
      {"a/../..", ".."},
      {"a/..", "."},
      {"/a/b/..", "/a"},      // a trailing ".." climbs
      {"/a/b/../", "/a"},
      {"/..", "/"},           // the root's parent is the root
      {"a\\b\\", "a/b"},
      {"//a///b/./", "/a/b"},
  };
  for (const auto& c : cases) {
    std::string path = c.path;
    EXPECT_TRUE(CFtpServer::NormalizePath(path));
    EXPECT_EQ(path, c.normalized) << c.path;
  }
}

TEST(BuildPath, EveryVirtualPathExample) {
  const struct {
    const char* argument;
    const char* current;
    const char* start;
    const char* built;
  } cases[] = {
      {nullptr, "/docs", "/1", "/1/docs"},
      {"", "/docs", "/1", "/1/docs"},
      {"a.txt", "/docs", "/1", "/1/docs/a.txt"},
      {"/x/y/", "/docs", "/1", "/1/x/y"},
      {"../x", "/docs", "/1", "/1/x"},
      {"../x", "/docs/inner", "/1", "/1/docs/x"},
      {"/../abc", "/docs", "/1", "/1/abc"},
      {"a/../b", "/docs", "/1", "/1/docs/b"},
      {"/a/bb/../../c", "/docs", "/1", "/1/c"},
      {"..", "/docs", "/1", "/1"},
      {"../", "/docs/inner", "/1", "/1/docs"},
      // A start path of "/" adds nothing.
      {"/x", "/", "/", "/x"},
      {nullptr, "/", "/", "/"},
      // A ".." that would climb above the account's root stays at the root.
      {"..", "/", "/1/pub", "/1/pub"},
      {"x/../..", "/", "/1/pub", "/1/pub"},
      {"../../etc", "/docs", "/1/pub", "/1/pub/etc"},
      {"../b/../..", "/d", "/1/pub", "/1/pub"},
      {nullptr, "/..", "/1/pub", "/1/pub"},
      {"/a/bb/../../..", "/", "/1/pub", "/1/pub"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Built(c.argument, c.current, c.start), c.built)
        << (c.argument ? c.argument : "(none)") << " in " << c.current << " under " << c.start;
  }
}

TEST(BuildPath, NormalizesTheArgumentInPlaceAndRefusesMissingPartsAndOverlongResults) {
  std::string argument = "//a\\b";
  EXPECT_EQ(CFtpServer::BuildPath("/1", "/", &argument), "/1/a/b");
  EXPECT_EQ(argument, "/a/b");
  EXPECT_EQ(CFtpServer::BuildPath(nullptr, "/", &argument), std::nullopt);
  EXPECT_EQ(CFtpServer::BuildPath("/1", nullptr, &argument), std::nullopt);
  // "/1/" and 257 characters: 260 in all, the longest allowed.
  EXPECT_EQ(Built(std::string(257, 'n').c_str(), "/")->size(), 260u);
  EXPECT_EQ(Built(std::string(258, 'n').c_str(), "/"), std::nullopt);
}

}  // namespace
}  // namespace vrax::ftp
