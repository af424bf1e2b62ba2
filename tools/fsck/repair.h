// Repairing a volume: what a crash can leave and common damage, mended
// conservatively through the engine, one printed line per repair.
#pragma once

#include <cstdio>
#include <string>

namespace vrax::fsck {

// Checks the volume at `path`, repairs what the checks found, and checks
// again until it is clean or a round repairs nothing more. The volume is
// opened exclusively first, as vrax opens it: a volume in use is refused.
// Returns an exit code (exit_codes.h).
int RepairVolume(const std::string& path, bool verbose, std::FILE* out, std::FILE* err);

}  // namespace vrax::fsck
