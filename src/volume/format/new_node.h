// The record of a new file or directory: the engine's create and the
// formatter build it from these same parts, so both write the same bytes.
//
// A new node gets, in this order, every attribute resident:
//   AT_STANDARD_INFORMATION  48 bytes, all 0 but the 32-bit value 0x26 at 0x20
//   AT_FILE_NAME             parent reference and name (file_name.h)
//   AT_SECURITY_DESCRIPTOR   empty
//   AT_OSK_FILEDES           the 20-byte descriptor (descriptor.h): the new
//                            bits, owner and link count 0, modified now,
//                            created the same day at 00:00
// then a file gets AT_DATA (unnamed), and a directory, each named "$I30":
//   AT_INDEX_ROOT            the empty root (BuildEmptyRoot)
//   AT_INDEX_ALLOCATION      empty
//   AT_BITMAP                empty
// with the record header's directory flag 0x0002.
#pragma once

#include <cstdint>

#include "volume/format/attribute.h"
#include "volume/format/descriptor.h"

namespace vrax {

constexpr uint32_t kStandardInformationSize = 48;
constexpr char kIndexName[] = "$I30";

// The attributes every node starts with, then those a directory adds.
constexpr uint32_t kNodeAttributes[] = {AT_STANDARD_INFORMATION, AT_FILE_NAME,
                                        AT_SECURITY_DESCRIPTOR, AT_OSK_FILEDES};
constexpr uint32_t kDirectoryIndexAttributes[] = {AT_INDEX_ROOT, AT_INDEX_ALLOCATION,
                                                  AT_BITMAP};

// Fills the kStandardInformationSize bytes at `out`.
void BuildStandardInformation(uint8_t* out);

// A new node's descriptor: `bits`, the size field, modified `when`, created
// the same day at 00:00, owner, link count and tail 0.
Descriptor NewNodeDescriptor(uint8_t bits, uint32_t size, const Stamp& when);

}  // namespace vrax
