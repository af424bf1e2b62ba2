// vrax-mkfs --from DIR: filling the new volume with a host folder tree.
#pragma once

#include <cstdint>
#include <string>

#include "tree_copier.h"

namespace vrax::mkfs {

// Checked before anything is formatted: `from` must be a folder that can
// be listed. False, with `error` saying why, otherwise.
bool CheckSourceFolder(const std::string& from, std::string& error);

// Mounts the freshly formatted volume on `target` as drive "/1" and copies
// the files and folders below `from` into its root, recursively, with
// their modification times. Entries that cannot be stored are reported and
// left out. Returns kExitOk, or kExitIo (with `error`) when the volume
// could not be mounted or failed during the copy.
int CopyHostTree(const std::string& from, const std::string& target, uint32_t clusterSize,
                 CopyTally& tally, std::string& error);

// One line saying what was copied.
std::string CopySummary(const std::string& from, const CopyTally& tally);

}  // namespace vrax::mkfs
