// Helpers shared by the volume tests. The path calls drive the engine on
// drive "/1", each through its own open, so they see what the volume holds;
// they return failures rather than assert them, as the crash tests call
// them on volumes a crash left behind.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "volume/format/attribute_list.h"

namespace vrax::test {

using Bytes = std::vector<uint8_t>;
// Every path below a directory (directories end in "/") and its contents.
using Tree = std::map<std::string, Bytes>;

// Creates the file (kept when it exists); returns the engine's error.
int32_t CreatePath(const std::string& path);
// Writes `data` at `offset`, creating the file when missing.
int32_t WritePath(const std::string& path, uint32_t offset, const Bytes& data);
int32_t TruncatePath(const std::string& path, uint32_t size);
// The file's contents and record (empty / 0 when it does not open).
Bytes ReadPath(const std::string& path);
uint32_t RecordOfPath(const std::string& path);
// The names a directory lists, "." and ".." left out; a listing that
// fails part way gives the names delivered before.
std::vector<std::string> NamesIn(const std::string& dir);
// The whole tree below `dir`; a listed name that does not open holds "?",
// which no real state holds.
Tree ReadTree(const std::string& dir = "/1");
// `size` bytes from a generator seeded with `seed`: no period a misplaced
// transfer could hide behind.
Bytes RandomBytes(size_t size, uint32_t seed);

// Index entries as the engine lays them out: a named entry (parent: the
// root) carries its sub-node's VCN in its last 8 bytes when `flags` say so.
Bytes NamedEntry(const std::string& name, uint32_t record, uint8_t flags = 0, uint32_t subNode = 0);
Bytes EndEntry(bool hasSubNode = false, uint32_t vcn = 0);
// A fresh index block for `vcn` holding `entries` as given; its bytes in
// use count them unless `inUse` says otherwise.
Bytes BlockWith(uint32_t size, uint32_t bytesPerSector, uint32_t vcn,
                const std::vector<Bytes>& entries, uint32_t inUse = 0);

// Attributes appended to a record image at its end marker (zeroed, the end
// marker, bytes in use and attribute count kept right); a non-resident one
// has `runs` behind its header.
uint8_t* AppendAttribute(uint8_t* image, uint32_t type, uint32_t length);
uint8_t* AppendResident(uint8_t* image, uint32_t type, uint16_t valueLength);
uint8_t* AppendNonResident(uint8_t* image, uint32_t type, const Bytes& runs);

AttributeListEntry Listed(uint32_t type, uint32_t record, uint16_t id, uint32_t firstVcn = 0);

}  // namespace vrax::test
