// Attribute values of a record chain: finding attributes across a base
// record and its extension records, reading and writing values at any
// offset, resident or held in clusters, and the file operations on top.
#pragma once

#include <cstdint>

#include "volume/format/attribute.h"
#include "volume/format/descriptor.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

enum TransferMode : int { kTransferRead = 1, kTransferWrite = 2 };

uint8_t* FindAttribute(Toolkit* toolkit, RecordChain& chain, uint32_t type,
                       RecordBuffer** holder = nullptr);
uint8_t* FindLastAttribute(Toolkit* toolkit, RecordChain& chain, uint32_t type,
                           RecordBuffer** holder = nullptr);
uint8_t* FindAttributeInRecord(Toolkit* toolkit, uint8_t* image, uint32_t type);

int32_t AttributeSize(Toolkit* toolkit, RecordChain& chain, uint32_t type, uint32_t& size);

// Reads (mode 1) or writes (mode 2) a byte range of a value. A write into
// clusters goes to the disk at once; a write to a resident value, and any
// change of sizes or runs, changes the record images only (marked dirty):
// the caller writes the records when the change is complete, in the order
// its crash safety needs (WriteChain, CommitChain).
int32_t AttributeTransfer(Toolkit* toolkit, uint32_t type, RecordChain& chain, void* buffer,
                          uint32_t count, uint32_t offset, uint32_t& done, int mode);

// Writes bytes of a bitmap (the cluster bitmap, the MFT's record bitmap, an
// index bitmap) and, when the bitmap is resident, its record at once: a
// mark must be on disk before anything uses what it marks.
int32_t BitmapWrite(Toolkit* toolkit, RecordChain& chain, uint32_t type, const uint8_t* bytes,
                    uint32_t count, uint32_t offset);

// Resizes a value (the growth and shrink rules live in the write path).
int32_t SetAttributeSize(Toolkit* toolkit, RecordChain& chain, uint32_t type, uint32_t newSize);

// Finds the run of `instance` (a non-resident attribute header) that holds
// `vcn`. 0x34FF when the run list ends first, 114 when it is malformed.
// With `trace` each run looked at is printed.
int32_t LookupRun(const uint8_t* instance, uint32_t vcn, uint32_t& runFirstVcn,
                  uint32_t& runLastVcn, uint32_t& runLength, uint32_t& lcn, bool trace);

// Drops what a failed change left in a chain's images: the chain is read
// again from disk, which holds the truth (the change's writes come in an
// order that keeps it sound), and the clusters and extension records the
// dropped images held that the records on disk do not name are given back.
int32_t DiscardChanges(Toolkit* toolkit, RecordChain& chain);

// The largest value an attribute may hold: 2^32 minus one cluster.
inline uint32_t MaxValueSize(const Toolkit* toolkit) { return 0u - toolkit->clusterSize; }

int32_t FileRead(Toolkit* toolkit, uint32_t offset, uint32_t count, void* buffer, uint32_t& done);
// With `toolkit->deferDurability` set, a write leaves the file's records
// changed in memory (and its data in relaxed writes) until FileCommit, and
// a failure drops everything written since the last commit.
int32_t FileWrite(Toolkit* toolkit, uint32_t offset, uint32_t count, const void* buffer,
                  uint32_t& done);
// Makes the deferred writes of `toolkit` durable: a device barrier for the
// data and the marks, then the file's records. 0 at once when there is
// nothing to commit; on failure the uncommitted changes are dropped.
int32_t FileCommit(Toolkit* toolkit);
int32_t FileSize(Toolkit* toolkit, uint32_t& size);
int32_t FileTruncate(Toolkit* toolkit, uint32_t newSize);
int32_t ReadDescriptor(Toolkit* toolkit, uint8_t* descriptor20);
int32_t ReadDescriptorAttributes(Toolkit* toolkit, uint8_t& bits);
int32_t UpdateDescriptorSize(Toolkit* toolkit, uint32_t size);

// The host's local time to the minute, as descriptors hold it.
int32_t LocalStamp(Stamp& now);

}  // namespace vrax
