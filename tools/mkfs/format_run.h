// One run of vrax-mkfs from parsed options to a written volume.
#pragma once

#include <string>

#include "geometry.h"
#include "options.h"

namespace vrax::mkfs {

// Checks everything that can be checked before the target is changed, then
// writes the volume. Returns an exit code (exit_codes.h); on failure `error`
// says why. The target is left unchanged by every refusal (codes 1 to 3).
int FormatTarget(const MkfsOptions& options, VolumeLayout& layout, std::string& error);

}  // namespace vrax::mkfs
