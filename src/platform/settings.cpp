#include "platform/settings.h"

namespace vrax {

int g_debug = 0;
int g_noBuffering = 0;
int g_writeThrough = 1;
int g_reportDevice = 1;

}  // namespace vrax
