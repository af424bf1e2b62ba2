// Allocating and freeing clusters (through the device's shared bitmap
// cache) and MFT records (through the MFT's own bitmap, read and written
// piecewise for every change).
#pragma once

#include <cstdint>

#include <vector>

#include "volume/format/runlist.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

// Allocates one run of up to `wanted` free clusters, searching from the
// cache's next position when `useNextPosition` is non-zero (next fit, with
// one wrap-around). Count 0 with success means the volume is full.
int32_t AllocateClusters(Toolkit* toolkit, uint32_t useNextPosition, uint32_t wanted,
                         uint32_t& lcn, uint32_t& count);
int32_t FreeClusters(Toolkit* toolkit, uint32_t lcn, uint32_t count);
// Frees many runs with as few bitmap writes as the sectors they touch allow.
int32_t FreeClusterRuns(Toolkit* toolkit, std::vector<ClusterRun> runs);
// Marks `count` clusters from `lcn` in use (bits of the bitmap value past
// the volume's last cluster included): for the repair.
int32_t MarkClusters(Toolkit* toolkit, uint32_t lcn, uint32_t count);

// Takes a free MFT record, growing the MFT by 128 records when none is free.
int32_t AllocateRecord(Toolkit* toolkit, uint32_t& recordNumber);

enum RecordBitMode : int { kRecordInUse = 1, kRecordFree = 2 };
int32_t SetRecordBit(Toolkit* toolkit, int mode, uint32_t recordNumber);
// Whether the MFT bitmap marks record n in use.
int32_t RecordInUse(Toolkit* toolkit, uint32_t recordNumber, bool& inUse);

}  // namespace vrax
