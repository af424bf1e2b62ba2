// Undoing a failed change to a directory's records.
//
// An index insertion or removal changes the directory's records, its index
// bitmap and possibly the size of its index allocation, in several writes.
// When one of them fails, Restore puts the directory back as it was before
// the change began: clusters and extension records the change took are
// given back, the index bitmap and the record images are restored and
// written again.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/toolkit/toolkit.h"

namespace vrax {

class ChainSnapshot {
 public:
  int32_t Take(Toolkit* toolkit, RecordChain& chain);
  void Restore(Toolkit* toolkit, RecordChain& chain) const;

 private:
  struct Image {
    uint32_t recordNumber = 0;
    std::vector<uint8_t> bytes;
  };
  std::vector<Image> images_;
  uint64_t allocationClusters_ = 0;  // clusters of the index allocation
  uint64_t bitmapClusters_ = 0;      // clusters of a non-resident index bitmap
  std::vector<uint8_t> bitmap_;      // the index bitmap's value
};

}  // namespace vrax
