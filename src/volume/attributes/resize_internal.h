// The steps of resizing a value, shared by the files that implement them.
#pragma once

#include <cstdint>

#include "volume/attributes/attributes.h"

namespace vrax {

int32_t ResizeResident(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* a,
                       RecordBuffer* holder, uint32_t n);
int32_t MakeNonResident(Toolkit* t, RecordChain& chain, uint32_t type, uint8_t* a,
                        RecordBuffer* holder, uint32_t n);
int32_t SetNonResidentSize(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n);
int32_t ExtendValue(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n);
int32_t AppendRun(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t length, uint32_t lcn,
                  uint32_t n);
int32_t TruncateValue(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n);
int32_t OverflowIntoExtension(Toolkit* t, RecordChain& chain, uint32_t type);

// Removes the last run of a run list (k clusters of it, all of them when k
// is its length); `lcn` moves by t - k. -1 when the last run is shorter.
int32_t ShortenLastRun(uint8_t* list, uint32_t size, uint32_t& lcn, uint32_t k);

// Clusters covered by an instance's run list; false when it is malformed.
bool RunListClusters(const uint8_t* instance, uint64_t& clusters);

// Last VCN of a value of n bytes: (n - 1) / K, 0 for an empty value.
inline uint32_t LastVcnOf(const Toolkit* t, uint32_t n) {
  return n == 0 ? 0 : (n - 1) / t->clusterSize;
}

}  // namespace vrax
