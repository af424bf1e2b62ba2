// Growing a non-resident value: allocating runs and appending them to the
// run list of the value's last instance.
#include <algorithm>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/record_edit.h"
#include "volume/attributes/resize_internal.h"
#include "volume/format/runlist.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

bool RunListClusters(const uint8_t* a, uint64_t& clusters) {
  const uint32_t length = AttrLength(a);
  const uint32_t offset = AttrRunListOffset(a);
  clusters = 0;
  if (offset >= length) return false;
  uint32_t pos = 0;
  DecodedRun run;
  for (;;) {
    const RunStatus s = DecodeRun(a + offset, length - offset, pos, run);
    if (s == RunStatus::kEnd) return true;
    if (s == RunStatus::kMalformed) return false;
    clusters += run.length;
  }
}

int32_t ShortenLastRun(uint8_t* list, uint32_t size, uint32_t& lcn, uint32_t k) {
  uint32_t pos = 0, last = 0;
  bool any = false;
  DecodedRun run, lastRun;
  for (;;) {
    const uint32_t at = pos;
    const RunStatus s = DecodeRun(list, size, pos, run);
    if (s == RunStatus::kEnd) break;
    if (s == RunStatus::kMalformed) return Corruption();
    last = at;
    lastRun = run;
    any = true;
  }
  if (!any || lastRun.length < k) return kErrBadDevice;
  const uint32_t remaining = lastRun.length - k;
  lcn += remaining;
  if (remaining == 0) {
    std::fill(list + last, list + last + 1 + lastRun.lengthBytes + lastRun.offsetBytes, 0);
    return kOk;
  }
  for (uint32_t i = 0; i < lastRun.lengthBytes; ++i) {
    list[last + 1 + i] = static_cast<uint8_t>(remaining >> (8 * i));
  }
  return kOk;
}

namespace {

struct RunListState {
  uint32_t lastCluster = 0;
  uint32_t lastRunLength = 0;
  uint32_t encoded = 0;
};

bool Summarise(const uint8_t* a, RunListState& s) {
  const uint32_t offset = AttrRunListOffset(a);
  return offset < AttrLength(a) &&
         RunListSummary(a + offset, AttrLength(a) - offset, s.lastCluster, s.lastRunLength,
                        s.encoded);
}

// New attribute length when a run of the given field widths is appended:
// the runs, the run, a terminator and padding, rounded down to even.
uint32_t LengthWithRun(const uint8_t* a, uint32_t encoded, uint32_t wl, uint32_t wo) {
  return (AttrRunListOffset(a) + encoded + wl + wo + 5) & ~1u;
}

void RecordSizes(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n) {
  RecordBuffer* firstHolder = nullptr;
  RecordBuffer* lastHolder = nullptr;
  uint8_t* first = FindAttribute(t, chain, type, &firstHolder);
  uint8_t* last = FindLastAttribute(t, chain, type, &lastHolder);
  const uint32_t lastVcn = LastVcnOf(t, n);
  SetAttrLastVcn(last, lastVcn);
  SetAttrAllocatedSize(first, (lastVcn + 1) * t->clusterSize);
  SetAttrDataSize(first, n);
  SetAttrInitializedSize(first, n);
  firstHolder->dirty = 1;
  lastHolder->dirty = 1;
}

// Appends one run (no merging) to the last instance, continuing the value
// in a new extension record when this record has no room for it.
int32_t AppendSeparateRun(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t l, uint32_t x,
                          bool mayOverflow) {
  RecordBuffer* holder = nullptr;
  uint8_t* a = FindLastAttribute(t, chain, type, &holder);
  if (a == nullptr) return kErrAppendMissing;
  RunListState s;
  if (!Summarise(a, s)) return Corruption();
  const int64_t offset = static_cast<int64_t>(x) - (s.encoded ? s.lastCluster : 0);
  const uint32_t wo = OffsetFieldWidth(offset);
  const uint32_t wl = std::max(1u, RunFieldWidth(true, l));
  const uint32_t newLength = LengthWithRun(a, s.encoded, wl, wo);
  const int64_t growth = static_cast<int64_t>(newLength) - AttrLength(a);
  if (growth > static_cast<int64_t>(RecordFreeRoom(holder->image))) {
    if (!mayOverflow) return kErrAddNoRoom;
    const int32_t error = OverflowIntoExtension(t, chain, type);
    if (error != kOk) return error;
    return AppendSeparateRun(t, chain, type, l, x, false);
  }
  holder->dirty = 1;
  if (growth > 0) {
    const uint32_t at = static_cast<uint32_t>(a - holder->image) + AttrLength(a);
    if (!ShiftRecordTail(holder->image, t->recordSize, at, growth)) return Corruption();
    SetAttrLength(a, newLength);
  }
  EncodeRun(a + AttrRunListOffset(a) + s.encoded, wl, wo, l, offset);
  return kOk;
}

}  // namespace

// A run that continues the last run is merged into it when the merged run
// still fits this record; otherwise it is appended as a run of its own.
int32_t AppendRun(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t l, uint32_t x,
                  uint32_t n) {
  RecordBuffer* holder = nullptr;
  uint8_t* a = FindLastAttribute(t, chain, type, &holder);
  if (a == nullptr) return kErrAppendMissing;
  RunListState s;
  if (!Summarise(a, s)) return Corruption();
  int32_t error = kOk;
  const uint64_t merged = static_cast<uint64_t>(s.lastRunLength) + l;
  if (s.encoded != 0 && x == s.lastCluster + 1 && merged <= 0xFFFFFFFFull &&
      RunFieldWidth(true, static_cast<uint32_t>(merged)) <= 4) {
    uint8_t* list = a + AttrRunListOffset(a);
    uint32_t start = s.lastCluster;
    error = ShortenLastRun(list, AttrLength(a) - AttrRunListOffset(a), start, s.lastRunLength);
    start = s.lastCluster + 1 - s.lastRunLength;
    if (error == kOk) {
      error = AppendSeparateRun(t, chain, type, static_cast<uint32_t>(merged), start, false);
    }
    if (error == kErrAddNoRoom) {
      // Put the old last run back and append the new one on its own.
      error = AppendSeparateRun(t, chain, type, s.lastRunLength, start, false);
      if (error == kOk) error = AppendSeparateRun(t, chain, type, l, x, true);
    }
  } else {
    error = AppendSeparateRun(t, chain, type, l, x, true);
  }
  if (error == kOk) RecordSizes(t, chain, type, n);
  return error;
}

int32_t ExtendValue(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t n) {
  const uint8_t* first = FindAttribute(t, chain, type);
  if (first == nullptr) return kErrSizeFirstMissing;
  const uint32_t oldSize = AttrInitializedSize(first);
  uint64_t a = AttrAllocatedSize(first);
  uint64_t needed = (n - a + t->clusterSize - 1) / t->clusterSize;
  bool added = false;
  while (needed > 0 && a < n) {
    uint32_t lcn = 0, got = 0;
    int32_t error = AllocateClusters(t, t->allocationHint + 1, static_cast<uint32_t>(needed),
                                     lcn, got);
    if (error == kOk && got == 0) error = kErrHandleDiskFull;
    if (error == kOk) {
      a = std::min<uint64_t>(a + static_cast<uint64_t>(got) * t->clusterSize, n);
      error = AppendRun(t, chain, type, got, lcn, static_cast<uint32_t>(a));
      if (error != kOk) FreeClusters(t, lcn, got);
    }
    if (error != kOk) {
      if (added) TruncateValue(t, chain, type, oldSize);
      return error;
    }
    added = true;
    needed -= std::min<uint64_t>(got, needed);
  }
  return kOk;
}

}  // namespace vrax
