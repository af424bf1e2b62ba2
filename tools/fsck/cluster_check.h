// The cluster bitmap (record 6's AT_DATA) against the clusters in use.
//
// Every cluster that a run of an examined record holds, and the boot
// sector's cluster, must be marked; every other cluster of the volume must
// be clear. The bits from the cluster count to the end of the bitmap must
// all be set: the engine's allocator searches the whole bitmap value, so a
// clear bit there would hand out a cluster beyond the end of the volume.
#pragma once

#include "context.h"

namespace vrax::fsck {

void CheckClusterBitmap(Context& context);

}  // namespace vrax::fsck
