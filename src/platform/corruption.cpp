#include "platform/corruption.h"

#include <cstdio>
#include <cstring>

#include "platform/error_codes.h"
#include "platform/settings.h"

namespace vrax {

namespace {

thread_local const char* t_file = nullptr;
thread_local uint32_t t_line = 0;

// The path below the source tree ("volume/format/fixup.cpp"), or the whole
// path when it lies elsewhere.
const char* ShortPath(const char* path) {
  for (const char* tree : {"/src/", "/tools/"}) {
    const char* at = std::strstr(path, tree);
    if (at != nullptr) return at + std::strlen(tree);
  }
  return path;
}

}  // namespace

int32_t Corruption(const char* file, uint32_t line) {
  t_file = ShortPath(file);
  t_line = line;
  if (g_debug) std::fprintf(stderr, "malformed structure detected at %s:%u\n", t_file, t_line);
  return kErrBadStructure;
}

std::string LastCorruptionSite() {
  if (t_file == nullptr) return std::string();
  return std::string(t_file) + ":" + std::to_string(t_line);
}

void ClearCorruptionSite() {
  t_file = nullptr;
  t_line = 0;
}

}  // namespace vrax
