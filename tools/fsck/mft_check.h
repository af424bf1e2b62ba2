// Checks that span the MFT once the tree has been walked: every base
// record's chain (attribute lists and how multi-record values fit), and the
// MFT bitmap against the records reached.
#pragma once

#include "context.h"

namespace vrax::fsck {

// Loads the chain of every examined base record, reporting attribute list
// problems and non-resident values whose instances do not fit together.
void CheckChains(Context& context);

// Reports records in use that nothing reaches, and reached records that the
// MFT bitmap does not mark in use.
void CheckReachability(Context& context);

}  // namespace vrax::fsck
