// Directory indexes ("$I30"): name order, lookups, in-order walks and the
// reading of a directory as a stream of 32-byte records.
#pragma once

#include <cstdint>
#include <functional>

#include "volume/format/file_name.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

// What ReadDirectory and IndexEnumerate deliver: 28 bytes of name (one byte
// per character, zero-padded, no terminator at 28) and the record number.
constexpr uint32_t kDirRecordSize = 32;
constexpr uint32_t kDirRecordNameSize = kMaxNameLength;

// Orders a stored entry against a name of n bytes: 1 when the name sorts
// before the entry, -1 after it, 0 equal. Keyless entries give -1.
int CollateNames(const uint8_t* entry, const char* name, uint32_t n);
// True when the stored name equals the n-byte name without regard to ASCII case.
bool NamesEqual(const uint8_t* entry, const char* name, uint32_t n);

int32_t IndexLookup(Toolkit* toolkit, RecordChain& directory, const char* name, uint32_t n,
                    uint32_t& recordNumber);
int32_t IndexEnumerate(Toolkit* toolkit, RecordChain& directory, uint32_t& skip,
                       uint32_t& wanted, uint8_t*& out, uint32_t& bytesLeft);
// Hands every named entry of the index to `visit`, in index order, in one
// walk of the tree; the first error (of the walk or of `visit`) ends it.
using IndexVisitor = std::function<int32_t(const uint8_t* entry)>;
int32_t IndexForEach(Toolkit* toolkit, RecordChain& directory, const IndexVisitor& visit);
int32_t ReadDirectory(Toolkit* toolkit, uint32_t offset, uint32_t length, uint8_t* buffer,
                      uint32_t& delivered);

// One INDX block of `toolkit->indexBlockSize` bytes at block VCN `vcn`.
int32_t IndexBlockRead(Toolkit* toolkit, RecordChain& directory, uint8_t* block, uint32_t vcn,
                       uint32_t& bytesRead, bool trace);
int32_t IndexBlockWrite(Toolkit* toolkit, RecordChain& directory, uint8_t* block, uint32_t vcn,
                        bool trace);

// Number of blocks the directory's index allocation holds (0 when it has
// none); a walk that meets more nodes than this has met a cycle.
uint32_t IndexBlockCount(Toolkit* toolkit, RecordChain& directory);

}  // namespace vrax
