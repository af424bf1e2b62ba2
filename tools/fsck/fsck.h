// One whole check of a volume image, in the order the findings build on
// each other: geometry, the MFT, every record in use, the directory tree,
// the record chains, reachability, and last the cluster bitmap (which needs
// the clusters of every record examined before).
#pragma once

#include <cstdio>
#include <string>

namespace vrax::fsck {

// Checks the volume in the image at `path`, printing problem lines (and,
// with `verbose`, the summary) on `out`. Returns an exit code (exit_codes.h);
// a failure to open the image is told on `err`.
int CheckVolume(const std::string& path, bool verbose, std::FILE* out, std::FILE* err);

}  // namespace vrax::fsck
