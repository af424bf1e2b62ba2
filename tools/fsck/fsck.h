// One whole check of a volume image, in the order the findings build on
// each other: geometry, the MFT, every record in use, the directory tree,
// the record chains, the clusters the reached records hold, reachability,
// and last the cluster bitmap. With repair, the findings are mended through
// the engine and the volume is checked again until it is clean or nothing
// more can be done.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "findings.h"

namespace vrax::fsck {

struct CheckOptions {
  bool verbose = false;
  bool repair = false;
};

// What one pass of the checks found.
struct CheckPass {
  bool readable = false;
  uint64_t problems = 0;
  uint64_t leaks = 0;
  Findings findings;
};

// Checks the volume in the image at `path` once, printing findings on `out`
// (null: counted only) and failures to open it on `err`.
CheckPass CheckOnce(const std::string& path, bool verbose, std::FILE* out, std::FILE* err);

// Checks, and with options.repair repairs, the volume at `path`. Returns an
// exit code (exit_codes.h).
int CheckVolume(const std::string& path, const CheckOptions& options, std::FILE* out,
                std::FILE* err);

}  // namespace vrax::fsck
