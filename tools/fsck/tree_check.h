// The namespace walk: from the system records and the root directory
// through every directory index, marking each record reached, checking
// every record a directory lists, and counting files and directories.
#pragma once

#include "context.h"

namespace vrax::fsck {

// Walks the directory tree with an explicit stack of directories, so a tree
// hundreds of levels deep costs memory, not call depth. Each record is
// reached once: an entry naming a record already reached is reported and
// not followed, which also keeps a directory that lists an ancestor from
// being walked again.
void CheckTree(Context& context);

}  // namespace vrax::fsck
