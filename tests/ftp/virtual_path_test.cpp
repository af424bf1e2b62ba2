#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ftp/ftp_server.h"

namespace vrax::ftp {
namespace {

std::string Normalized(std::string path) {
  EXPECT_TRUE(CFtpServer::NormalizePath(path));
  return path;
}

// BuildPath with start path /1 and the given current directory.
std::optional<std::string> Built(const char* argument, const char* current = "/docs",
                                 const char* start = "/1") {
  if (argument == nullptr) return CFtpServer::BuildPath(start, current, nullptr);
  std::string text = argument;
  return CFtpServer::BuildPath(start, current, &text);
}

TEST(NormalizePath, RefusesAnEmptyPath) {
  std::string empty;
  EXPECT_FALSE(CFtpServer::NormalizePath(empty));
  EXPECT_EQ(empty, "");
}

TEST(NormalizePath, FoldsSlashesAndDots) {
  EXPECT_EQ(Normalized("a\\b"), "a/b");
  EXPECT_EQ(Normalized("//a///b"), "/a/b");
  EXPECT_EQ(Normalized("/a/./b/./c"), "/a/b/c");
  EXPECT_EQ(Normalized("./x"), "/x");
  EXPECT_EQ(Normalized("../x"), "/x");
  EXPECT_EQ(Normalized("/../abc"), "/abc");
  EXPECT_EQ(Normalized("/a/../bcdefgh"), "/bcdefgh");
  EXPECT_EQ(Normalized("a/../b"), "/b");
  EXPECT_EQ(Normalized("/a/b/../c"), "/a/c");
  EXPECT_EQ(Normalized("/a/b/.."), "/a/b");
  EXPECT_EQ(Normalized("/a/bb/../../c"), "/a/../c");
  EXPECT_EQ(Normalized(".."), "..");
  EXPECT_EQ(Normalized("/..x/y"), "/..x/y");
}

TEST(BuildPath, JoinsStartPathCurrentDirectoryAndArgument) {
  EXPECT_EQ(Built(nullptr), "/1/docs");
  EXPECT_EQ(Built(""), "/1/docs");
  EXPECT_EQ(Built("a.txt"), "/1/docs/a.txt");
  EXPECT_EQ(Built("/x/y/"), "/1/x/y");
  EXPECT_EQ(Built("/"), "/1");
  EXPECT_EQ(Built("docs", "/"), "/1/docs");
}

TEST(BuildPath, EveryVirtualPathExample) {
  EXPECT_EQ(Built("../x"), "/1/x");
  EXPECT_EQ(Built("./x"), "/1/x");
  EXPECT_EQ(Built("/../abc"), "/1/abc");
  EXPECT_EQ(Built("/a/../bcdefgh"), "/1/bcdefgh");
  EXPECT_EQ(Built("a/../b"), "/1/b");
  EXPECT_EQ(Built("/a/b/.."), "/1/a/b");
  EXPECT_EQ(Built("/a/bb/../../c"), "/1/a/../c");
  EXPECT_EQ(Built(".."), "/1/docs/..");
  EXPECT_EQ(Built("a\\b"), "/1/docs/a/b");
  EXPECT_EQ(Built("//a///b"), "/1/a/b");
}

TEST(BuildPath, NormalizesTheCallersArgumentInPlace) {
  std::string argument = "//a\\b";
  EXPECT_EQ(CFtpServer::BuildPath("/1", "/", &argument), "/1/a/b");
  EXPECT_EQ(argument, "/a/b");
}

TEST(BuildPath, RefusesMissingPartsAndOverlongResults) {
  std::string argument = "a";
  EXPECT_EQ(CFtpServer::BuildPath(nullptr, "/", &argument), std::nullopt);
  EXPECT_EQ(CFtpServer::BuildPath("/1", nullptr, &argument), std::nullopt);
  // "/1/" and 257 characters: 260 in all, the longest allowed.
  EXPECT_EQ(Built(std::string(257, 'n').c_str(), "/")->size(), 260u);
  EXPECT_EQ(Built(std::string(258, 'n').c_str(), "/"), std::nullopt);
}

TEST(BuildPath, AStartPathOfSlashAddsNothing) {
  EXPECT_EQ(Built("/x", "/", "/"), "/x");
  EXPECT_EQ(Built(nullptr, "/", "/"), "/");
}

// A ".." that would climb above the account's root stays at the root.
TEST(BuildPath, NeverLeavesTheStartPath) {
  EXPECT_EQ(Built("..", "/", "/1/pub"), "/1/pub");
  EXPECT_EQ(Built("../..", "/", "/1/pub"), "/1/pub");
  EXPECT_EQ(Built("x/../..", "/", "/1/pub"), "/1/pub");
  EXPECT_EQ(Built("..", "/docs/..", "/1/pub"), "/1/pub/docs/..");
  EXPECT_EQ(Built("../../etc", "/docs", "/1/pub"), "/1/pub/etc");
  EXPECT_EQ(Built("a/../../b", "/d", "/1/pub"), "/1/pub/b");
  EXPECT_EQ(Built("../b/../..", "/d", "/1/pub"), "/1/pub");
  EXPECT_EQ(Built(nullptr, "/..", "/1/pub"), "/1/pub");
  EXPECT_EQ(Built("/a/bb/../../..", "/", "/1/pub"), "/1/pub/a/..");
}

}  // namespace
}  // namespace vrax::ftp
