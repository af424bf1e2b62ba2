// Composing the metadata areas of a fresh volume and writing them.
//
// Three areas, each whole clusters (so every write is sector-aligned):
// the boot cluster (LCN 0), the MFT (every record it holds: records 0 to 10
// built by system_records.h, the others empty records from BuildEmptyRecord,
// all with their update sequence fix-ups applied) and the cluster bitmap.
// Bytes of an area that carry nothing are zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry.h"
#include "target.h"
#include "volume/format/descriptor.h"

namespace vrax::mkfs {

// The boot cluster: the boot sector with the layout's geometry, then zeros.
std::vector<uint8_t> BuildBootArea(const VolumeLayout& layout);

// The MFT's clusters as they go to disk.
std::vector<uint8_t> BuildMftArea(const VolumeLayout& layout, const Stamp& when);

// The cluster bitmap's clusters: the bitmap value, then zeros.
std::vector<uint8_t> BuildBitmapArea(const VolumeLayout& layout);

// Writes the volume. The boot cluster is cleared first and its boot sector
// written last, after the rest has reached stable storage: a format cut
// short never leaves a boot sector in front of half-written metadata, and
// an old volume on the target stops being one at the first write. Returns
// an exit code (exit_codes.h).
int WriteVolume(Target& target, const VolumeLayout& layout, const Stamp& when, std::string& error);

}  // namespace vrax::mkfs
