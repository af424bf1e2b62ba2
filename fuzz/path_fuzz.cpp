// Fuzz harness: building volume paths from what a client sends. Whatever
// the start path, current directory and argument, a built path begins with
// the account's start path, holds no "." or ".." component, no empty
// component and no trailing "/", and is no longer than the limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/ftp_server.h"

namespace {

const char* const kStarts[] = {"/1", "/1/home", "/1/home/user"};

bool Tidy(const std::string& path) {
  size_t at = 0;
  while (at < path.size()) {
    const size_t next = path.find('/', at + 1);
    const std::string part = path.substr(at + 1, next == std::string::npos ? std::string::npos
                                                                          : next - at - 1);
    if (part.empty() || part == "." || part == "..") return false;
    if (next == std::string::npos) break;
    at = next;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string start = kStarts[data[0] % 3];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = rest.find('\0');
  std::string current = "/" + rest.substr(0, split);
  std::string argument = split == std::string::npos ? std::string() : rest.substr(split + 1);
  if (current.find('\0') != std::string::npos || argument.find('\0') != std::string::npos) return 0;
  vrax::ftp::CFtpServer::NormalizePath(current);
  const auto built = vrax::ftp::CFtpServer::BuildPath(start.c_str(), current.c_str(), &argument);
  if (!built) return 0;
  if (built->compare(0, start.size(), start) != 0) std::abort();
  if (built->size() > start.size() && (*built)[start.size()] != '/') std::abort();
  if (!Tidy(*built) || built->size() > vrax::ftp::kMaxPath) std::abort();
  return 0;
}
