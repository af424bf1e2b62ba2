#include "volume/toolkit/damage.h"

#include <cstdio>
#include <string>

#include "platform/corruption.h"
#include "platform/error_codes.h"

namespace vrax {

void ReportVolumeDamage(const Toolkit* t, const char* what) {
  const std::string path = t == nullptr ? std::string() : AttachedPath(t->attachment);
  std::fprintf(stderr, "Volume damage at %s: %s; run vrax-fsck --repair on the volume\n",
               path.empty() ? "?" : path.c_str(), what);
}

int32_t VolumeDamage(const Toolkit* t, const char* what, const char* file, uint32_t line) {
  ReportVolumeDamage(t, what);
  return Corruption(file, line);
}

}  // namespace vrax
