// The records of files and directories as the engine creates them.
//
// A new node gets, in this order:
//   AT_STANDARD_INFORMATION  48 bytes, all 0 but the 32-bit value 0x26 at 0x20
//   AT_FILE_NAME             parent reference and name (file_name.h)
//   AT_SECURITY_DESCRIPTOR   empty
//   AT_OSK_FILEDES           the 20-byte descriptor (descriptor.h)
// and a directory then, each named "$I30":
//   AT_INDEX_ROOT            the empty 0x38-byte root (BuildEmptyRoot)
//   AT_INDEX_ALLOCATION      empty, resident
//   AT_BITMAP                empty, resident
// with header flags 0x0002. A file's AT_DATA is the caller's to add.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "record_builder.h"
#include "volume/format/descriptor.h"

namespace vrax::mkfs {

constexpr uint32_t kStandardInformationSize = 48;

// The host's local time at `when`, to the minute.
Stamp LocalStamp(std::time_t when);

// A descriptor as the engine writes it for a new node: `bits`, the size
// field, both dates `when`, owner, link count and tail 0.
Descriptor NewDescriptor(uint8_t bits, uint32_t size, const Stamp& when);

// Adds the name part of a node: AT_STANDARD_INFORMATION and AT_FILE_NAME.
// False when the record has no room or the name is longer than 255
// characters.
bool AddNameAttributes(RecordBuilder& record, uint32_t parent, const std::string& name);

// Adds the four attributes every node starts with (the name part, then the
// empty security descriptor and the descriptor). False as above.
bool AddNodeAttributes(RecordBuilder& record, uint32_t parent, const std::string& name,
                       const Descriptor& descriptor);

// Adds the empty "$I30" index of a new directory and sets the directory flag.
bool AddEmptyIndex(RecordBuilder& record);

// A complete empty directory named `name` in directory `parent`.
RecordBuilder NewDirectoryRecord(uint32_t recordSize, uint32_t bytesPerSector, uint32_t parent,
                                 const std::string& name, const Stamp& when);

}  // namespace vrax::mkfs
