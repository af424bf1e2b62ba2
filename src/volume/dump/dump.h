// Readable dumps of on-disk structures on standard output. Only the
// attribute-list dump runs in normal operation (each attribute list is
// printed as it is loaded); the others are debugging aids.
#pragma once

#include <cstdint>

#include "volume/toolkit/record_chain.h"

namespace vrax {

void DumpAttributeList(const uint8_t* buffer, uint32_t length);
void DumpRecordAttributes(const RecordChain& chain, uint32_t recordSize);
void DumpIndexEntry(const uint8_t* entry);
void DumpIndexBlock(const uint8_t* block, uint32_t blockSize);
// Trace lines of the index block transfers.
void TraceIndexBlockWrite(uint32_t vcn, uint32_t byteOffset);
void TraceIndexBlockReadWrong(uint32_t vcn, uint32_t byteOffset);

// The name printed for an attribute type ("UNKNOWN_ATTRIBUTE" for others).
const char* AttributeTypeName(uint32_t type);

}  // namespace vrax
