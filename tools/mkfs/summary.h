// What vrax-mkfs reports after a successful format.
#pragma once

#include <string>

#include "geometry.h"

namespace vrax::mkfs {

// A few lines: the geometry, the cluster count with the free clusters, and
// where the MFT and the cluster bitmap lie.
std::string Summary(const std::string& target, const VolumeLayout& layout);

}  // namespace vrax::mkfs
