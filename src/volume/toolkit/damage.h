// Damage the engine meets while it changes the volume: an index bitmap too
// short for its blocks, a record whose fix-ups fail, a name that leads to a
// free record or to one that belongs elsewhere. The change is refused before
// anything is written (error 114), and one line on standard error names the
// path and tells the operator to repair the volume, since work on the
// damaged part would spread the damage.
#pragma once

#include <cstdint>

#include "volume/toolkit/toolkit.h"

namespace vrax {

// Prints "Volume damage at PATH: WHAT; run vrax-fsck --repair on the
// volume" for the path `toolkit` was opened on and returns 114.
// Prints the line only: the check that found the damage noted its site.
void ReportVolumeDamage(const Toolkit* toolkit, const char* what);
// Prints the line and notes the caller as the site; returns 114.
int32_t VolumeDamage(const Toolkit* toolkit, const char* what, const char* file = __builtin_FILE(),
                     uint32_t line = __builtin_LINE());

}  // namespace vrax
