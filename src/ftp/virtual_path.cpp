// Client paths to volume paths.
//
// A client sees a tree rooted at "/" that is its account's start path on the
// volume. NormalizePath tidies a client path by text rules; BuildPath joins
// start path, current directory and argument. Every built path begins with
// the start path, and a ".." that would climb above the account's root is
// dropped (at the root, ".." names the root itself), so no built path ever
// names anything outside the start path, whatever its depth on the drive.
#include <cstring>
#include <string_view>
#include <vector>

#include "ftp/ftp_server.h"

namespace vrax::ftp {

namespace {

void ReplaceAll(std::string& path, char from, char to) {
  for (char& c : path) {
    if (c == from) c = to;
  }
}

bool StartsWith(const std::string& path, std::string_view prefix) {
  return path.compare(0, prefix.size(), prefix) == 0;
}

// One round of the "/.." folding; returns where to search next, or npos
// when folding ends.
size_t FoldAt(std::string& path, size_t q) {
  const size_t after = q + 3;
  if (after < path.size() && path[after] == '/') {
    if (q == 0) {
      path.erase(0, 3);
    } else if (const size_t s = path.rfind('/', q - 1); s != std::string::npos) {
      path.erase(s, after - s);
    } else {
      path.erase(0, after);
    }
    return path.find("/..", q);
  }
  if (after == path.size()) {
    path.resize(q);
    return std::string::npos;
  }
  return path.find("/..", q + 1);
}

// Drops every ".." component of `tail` that would climb above its start.
void ConfineTail(std::string& tail) {
  std::vector<std::string_view> kept;
  int depth = 0;
  bool dropped = false;
  std::string_view rest = tail;
  while (true) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == ".." && depth == 0) {
      dropped = true;
    } else {
      if (part == "..") --depth;
      else if (!part.empty() && part != ".") ++depth;
      kept.push_back(part);
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (!dropped) return;
  std::string joined;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) joined += '/';
    joined += kept[i];
  }
  tail = joined;
}

}  // namespace

bool CFtpServer::NormalizePath(std::string& path) {
  if (path.empty()) return false;
  ReplaceAll(path, '\\', '/');
  for (size_t p; (p = path.find("//")) != std::string::npos;) path.erase(p, 1);
  for (size_t p; (p = path.find("/./")) != std::string::npos;) path.erase(p, 2);
  if (StartsWith(path, "./")) path.erase(0, 1);
  if (StartsWith(path, "../")) path.erase(0, 2);
  for (size_t q = path.find("/.."); q != std::string::npos;) q = FoldAt(path, q);
  return true;
}

std::optional<std::string> CFtpServer::BuildPath(const char* startPath,
                                                 const char* currentDirectory,
                                                 std::string* argument) {
  if (startPath == nullptr || currentDirectory == nullptr) return std::nullopt;
  const std::string start = startPath;
  std::string tail;
  if (argument == nullptr || argument->empty()) {
    tail = currentDirectory;
  } else {
    NormalizePath(*argument);
    if ((*argument)[0] == '/') {
      tail = *argument;
    } else if (std::strlen(currentDirectory) <= 1) {
      tail = "/" + *argument;
    } else {
      tail = std::string(currentDirectory) + "/" + *argument;
    }
  }
  ConfineTail(tail);
  std::string result = (start == "/" && !tail.empty() && tail[0] == '/') ? tail : start + tail;
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  if (result.size() > kMaxPath) return std::nullopt;
  return result;
}

}  // namespace vrax::ftp
