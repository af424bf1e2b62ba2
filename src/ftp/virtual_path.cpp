// Client paths to volume paths.
//
// A client sees a tree rooted at "/" that is its account's start path on the
// volume. NormalizePath tidies a client path; BuildPath joins start path,
// current directory and argument. "." and ".." are resolved by their
// meaning, component by component: "/a/b/.." is "/a", ".." in "/docs" is
// "/". A ".." at the account's root names the root itself, so every built
// path begins with the start path and never names anything outside it,
// whatever its depth on the drive. Trailing and repeated slashes mean
// nothing.
#include <algorithm>
#include <string_view>
#include <vector>

#include "ftp/ftp_server.h"

namespace vrax::ftp {

namespace {

// The components of `path` with "." and empty ones dropped and each ".."
// taking away the component before it. A ".." with nothing before it is
// dropped from an absolute path (the root's parent is the root) and kept
// in a relative one (it climbs from wherever the path is joined to).
std::vector<std::string_view> Resolve(std::string_view path, bool absolute) {
  std::vector<std::string_view> kept;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      kept.push_back(part);
    } else if (!kept.empty() && kept.back() != "..") {
      kept.pop_back();
    } else if (!absolute) {
      kept.push_back(part);
    }
  }
  return kept;
}

std::string Join(const std::vector<std::string_view>& parts, bool absolute) {
  std::string joined;
  for (const std::string_view part : parts) {
    if (absolute || !joined.empty()) joined += '/';
    joined += part;
  }
  if (joined.empty()) return absolute ? "/" : ".";
  return joined;
}

}  // namespace

bool CFtpServer::NormalizePath(std::string& path) {
  if (path.empty()) return false;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  const bool absolute = path[0] == '/';
  path = Join(Resolve(path, absolute), absolute);
  return true;
}

std::optional<std::string> CFtpServer::BuildPath(const char* startPath,
                                                 const char* currentDirectory,
                                                 std::string* argument) {
  if (startPath == nullptr || currentDirectory == nullptr) return std::nullopt;
  std::string tail = currentDirectory;
  if (argument != nullptr && !argument->empty()) {
    NormalizePath(*argument);
    tail = (*argument)[0] == '/' ? *argument : tail + "/" + *argument;
  }
  tail = Join(Resolve(tail, true), true);
  const std::string start = startPath;
  std::string result = start == "/" ? tail : (tail == "/" ? start : start + tail);
  if (result.size() > kMaxPath) return std::nullopt;
  return result;
}

std::string CFtpServer::ClientPath(const std::string& startPath, const std::string& built) {
  if (startPath == "/") return built;
  const std::string rest = built.substr(std::min(startPath.size(), built.size()));
  return rest.empty() ? "/" : rest;
}

}  // namespace vrax::ftp
