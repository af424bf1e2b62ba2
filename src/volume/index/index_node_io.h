// Nodes of a directory index read into buffers of their own: the root value
// or one INDX block, with the region their entries occupy.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "volume/toolkit/toolkit.h"

namespace vrax {

struct IndexNode {
  std::vector<uint8_t> data;
  uint32_t start = 0;  // offset of the first entry
  uint32_t end = 0;    // end of the bytes the entries may occupy
  bool isRoot = false;
  uint32_t vcn = 0;    // the block's VCN (blocks only)
};

// Reads the root value (up to one index block of bytes). `empty` is set
// when it reads 0 bytes.
int32_t ReadRootNode(Toolkit* toolkit, RecordChain& directory, IndexNode& node, bool& empty);

// Reads block `vcn` and checks its header. Each block may be visited once
// per walk: a second visit means the sub-node links form a cycle or share a
// block, which only a damaged index does (114).
int32_t ReadBlockNode(Toolkit* toolkit, RecordChain& directory, uint32_t vcn, IndexNode& node,
                      std::unordered_set<uint32_t>& visited);

}  // namespace vrax
