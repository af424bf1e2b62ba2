// The run of a non-resident value that holds a VCN, over all instances.
#pragma once

#include <cstdint>

#include "volume/toolkit/toolkit.h"

namespace vrax {

// The cached run of one transfer.
struct RunCache {
  bool valid = false;
  uint32_t firstVcn = 0;
  uint32_t lastVcn = 0;
  uint32_t lcn = 0;
  uint64_t validBytes = 0;  // bytes of the run inside the value's size
};

// Looks up the run that holds `vcn` among the instances of `type`, with the
// valid bytes computed from the value size `size`. Every run must lie inside
// the volume (114 otherwise); 0x4301 for a resident instance; 0x34FF when no
// run covers the VCN.
int32_t LookupDataRun(Toolkit* toolkit, RecordChain& chain, uint32_t type, uint32_t vcn,
                      uint32_t size, RunCache& run);

}  // namespace vrax
