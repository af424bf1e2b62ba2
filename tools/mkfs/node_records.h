// The records of files and directories as the engine creates them, from
// the parts in volume/format/new_node.h. A file's AT_DATA is the caller's
// to add.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "record_builder.h"
#include "volume/format/descriptor.h"
#include "volume/format/new_node.h"

namespace vrax::mkfs {

// The host's local time at `when`, to the minute.
Stamp LocalStamp(std::time_t when);

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
