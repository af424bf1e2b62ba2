// Checking one directory's "$I30" index: the root value, every INDX block
// reachable from it, the order of the names, and the index bitmap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "attribute_value.h"
#include "context.h"

namespace vrax::fsck {

// One name of a directory, as its index entry gives it.
struct IndexedName {
  std::string name;  // the low byte of each stored unit
  uint32_t record = 0;
};

// Walks the index of directory `directory` (whose chain is given) in order
// and gives its names. Every block is read at most once, so a sub-node link
// that points back into the tree is reported, never followed; the walk
// keeps its nodes on an explicit stack, whatever the depth of the tree.
std::vector<IndexedName> CheckDirectoryIndex(Context& context, uint32_t directory,
                                             const Chain& chain);

}  // namespace vrax::fsck
