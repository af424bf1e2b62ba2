// Loading a record chain: a base record and the extension records its
// attribute list names, following the lists of listed records in turn as
// the engine does, each record once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "attribute_value.h"
#include "mft.h"

namespace vrax::fsck {

// Loads the chain of `base`. Records that cannot be read, lie beyond the
// MFT or name another base record are left out. With `problems` given,
// each such finding and each malformed or non-resident attribute list is
// added to it as a whole line. False when the base record itself cannot be
// read.
bool LoadChain(const Mft& mft, const Geometry& geometry, uint32_t base, Chain& chain,
               std::vector<std::string>* problems = nullptr);

}  // namespace vrax::fsck
