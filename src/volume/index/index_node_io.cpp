#include "volume/index/index_node_io.h"

#include <new>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"

namespace vrax {

int32_t ReadRootNode(Toolkit* t, RecordChain& directory, IndexNode& node, bool& empty) {
  empty = false;
  try {
    node.data.assign(t->indexBlockSize, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  uint32_t done = 0;
  const int32_t error = AttributeTransfer(t, AT_INDEX_ROOT, directory, node.data.data(),
                                          t->indexBlockSize, 0, done, kTransferRead);
  if (error != kOk) return error;
  if (done == 0) {
    empty = true;
    return kOk;
  }
  node.start = ie::kRootFirstEntry;
  node.end = done;
  node.isRoot = true;
  return kOk;
}

int32_t ReadBlockNode(Toolkit* t, RecordChain& directory, uint32_t vcn, IndexNode& node,
                      std::unordered_set<uint32_t>& visited) {
  try {
    if (!visited.insert(vcn).second) return Corruption();
    node.data.assign(t->indexBlockSize, 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  uint32_t bytesRead = 0;
  const int32_t error = IndexBlockRead(t, directory, node.data.data(), vcn, bytesRead, false);
  if (error != kOk) return error;
  if (!BlockHeaderIsSound(node.data.data(), t->indexBlockSize)) return Corruption();
  node.start = BlockEntriesStart(node.data.data());
  node.end = BlockEntriesEnd(node.data.data());
  node.isRoot = false;
  node.vcn = vcn;
  return kOk;
}

}  // namespace vrax
