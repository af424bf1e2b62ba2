// Why an entry of a host tree cannot be stored on the new volume.
#pragma once

#include <cstdint>
#include <string>

namespace vrax::mkfs {

// The reason a name cannot be stored (longer than 28 characters, or a
// first character of "/\*&;->< #^"), or empty when it can.
std::string NameProblem(const std::string& name);

// The reason behind a volume error that concerns one entry only (no room
// left, a file too large, a name the volume refuses or holds already in
// another letter case), or null when the error means the volume itself
// failed and the copy cannot go on.
const char* EntryProblem(int32_t error);

}  // namespace vrax::mkfs
