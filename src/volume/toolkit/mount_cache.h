// The mounted state of a volume, kept between operations.
//
// Every operation opens a Toolkit of its own, and a Toolkit needs the boot
// sector's geometry, the MFT's records (record 0 and its extension records,
// which map every other record) and the cluster bitmap file's records
// (record 6). Reading them again for every operation is what a mount costs;
// the device keeps one copy of them instead, and each new Toolkit starts
// from a copy of that.
//
// The copy is the disk's content as it was read. The device watches the
// byte ranges it came from (the boot sector and the sectors of each record
// kept), and any write that touches one of them, whoever makes it and
// whether or not it succeeds, makes the copy stale: the next mount reads
// the disk again. So a Toolkit never starts from anything but what the disk
// holds now, and the first operation after a change sees the change.
//
// The cluster bitmap cache, whose in-memory bits are the truth while it is
// installed (every change is written through), is held by the mounted state
// too, so it stays installed between operations instead of being read
// again whenever no Toolkit happens to hold it.
//
// Everything here runs inside volume operations, which the caller runs one
// at a time (the file interface lock); the device's own lock guards the
// watched ranges against its writes.
#pragma once

#include "volume/toolkit/toolkit.h"

namespace vrax {

struct BitmapCache;

// Gives `toolkit` (attached, nothing read yet) the boot sector, geometry and
// MFT records of the kept state when it is current; false when there is
// none or it is stale, and the caller reads the disk.
bool MountFromKeptState(Toolkit* toolkit);

// The kept records of the cluster bitmap file (record 6) into the empty
// `chain`, when the kept state is current; false otherwise.
bool BitmapFileFromKeptState(Toolkit* toolkit, RecordChain& chain);

// Keeps what `toolkit` has just read from the disk (boot sector, geometry,
// MFT chain and bitmap file chain, none of them changed since) for later
// mounts. `writesBefore` is the device's count of watched writes taken
// before the reading began: a write in between leaves the state stale.
void KeepMountedState(Toolkit* toolkit, uint64_t writesBefore);

// The device's count of watched writes now.
uint64_t WatchedWrites(const Toolkit* toolkit);

// Lets the kept state hold `cache` (already installed in the device's
// slot) until the device goes, so it survives between operations.
void KeepBitmapCache(Toolkit* toolkit, BitmapCache* cache);
// Whether the kept state holds `cache`; dropping its hold (the cache goes
// when nothing else holds it).
bool KeepsBitmapCache(const Toolkit* toolkit, const BitmapCache* cache);
void DropKeptBitmapCache(Toolkit* toolkit);

}  // namespace vrax
