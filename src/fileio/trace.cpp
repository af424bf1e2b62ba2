#include "fileio/trace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/settings.h"

namespace vrax {

void Trace(const char* format, ...) {
  if (g_debug == 0) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

}  // namespace vrax
