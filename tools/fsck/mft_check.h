// Checks that span the MFT once the tree has been walked: every reached
// base record's chain (attribute lists and how multi-record values fit),
// and the MFT bitmap against the records reached.
#pragma once

#include "context.h"

namespace vrax::fsck {

// Loads the chain of every reached base record, reporting attribute list
// problems and non-resident values whose instances do not fit together.
void CheckChains(Context& context);

// Reports records in use that nothing reaches (leaks: what a crash leaves
// between writing a record and naming it, or between unnaming and freeing
// it), and reached records that the MFT bitmap does not mark in use. Needs
// the clusters claimed: a record nothing reaches is worth reconnecting only
// when no reachable record uses its clusters.
void CheckReachability(Context& context);

}  // namespace vrax::fsck
