#include "volume/attributes/run_lookup.h"

#include <cstdio>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/runlist.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

int32_t LookupRun(const uint8_t* a, uint32_t vcn, uint32_t& runFirst, uint32_t& runLast,
                  uint32_t& runLength, uint32_t& lcn, bool trace) {
  const uint32_t length = AttrLength(a);
  const uint32_t offset = AttrRunListOffset(a);
  if (offset >= length) return Corruption();
  const uint8_t* list = a + offset;
  const uint32_t size = length - offset;
  uint64_t current = AttrFirstVcn(a);
  uint32_t p = 0;
  uint32_t pos = 0;
  DecodedRun run;
  for (;;) {
    const RunStatus status = DecodeRun(list, size, pos, run);
    if (status == RunStatus::kEnd) return kErrVcnNotMapped;
    uint32_t first = 0;
    if (status == RunStatus::kMalformed || !AdvanceRun(run, p, first)) return Corruption();
    const uint64_t last = current + run.length - 1;
    if (last > 0xFFFFFFFFull) return Corruption();
    if (trace) {
      std::printf("VCN=%08x VCNS=%08x VCNL=%08x COFF=%08x ORS=%d CRS=%d CR=%08x OR=%08x\n", vcn,
                  static_cast<uint32_t>(current), static_cast<uint32_t>(last), first,
                  static_cast<int>(run.offsetBytes), static_cast<int>(run.lengthBytes),
                  run.length, static_cast<uint32_t>(run.offset));
    }
    if (vcn <= last && vcn >= current) {
      runFirst = static_cast<uint32_t>(current);
      runLast = static_cast<uint32_t>(last);
      runLength = run.length;
      lcn = first;
      if (trace) std::printf("--> PH_START=%08x RUN_LENGTH=%08x\n", lcn, runLength);
      return kOk;
    }
    current = last + 1;
  }
}

int32_t LookupDataRun(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t vcn,
                      uint32_t size, RunCache& run) {
  int32_t error = kErrVcnNotMapped;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type);
    if (a == nullptr) continue;
    if (!AttrIsNonResident(a)) return kErrResidentInRunLookup;
    uint32_t first = 0, last = 0, length = 0, lcn = 0;
    error = LookupRun(a, vcn, first, last, length, lcn, false);
    if (error == kErrBadStructure) return error;
    if (error != kOk) continue;
    if (static_cast<uint64_t>(lcn) + length > t->clusterCount) return Corruption();
    const uint64_t start = static_cast<uint64_t>(first) * t->clusterSize;
    const uint64_t runBytes = static_cast<uint64_t>(length) * t->clusterSize;
    const uint64_t inValue = size > start ? size - start : 0;
    run.valid = true;
    run.firstVcn = first;
    run.lastVcn = last;
    run.lcn = lcn;
    run.validBytes = runBytes < inValue ? runBytes : inValue;
    return kOk;
  }
  return error;
}

}  // namespace vrax
