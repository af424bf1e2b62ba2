// File name value (AT_FILE_NAME), also the key of every directory index
// entry.
//
//   offset size field
//   0x00   8    parent directory reference (low 32 bits = record number)
//   0x08   0x38 times, sizes and flags: written as 0, never read
//   0x40   1    name length n in characters
//   0x41   1    name space (3 in names the engine writes)
//   0x42   2n   name, UTF-16LE; the engine's names are 8-bit characters
//               widened with a zero high byte
#pragma once

#include <cstdint>
#include <string>

namespace vrax {

constexpr uint32_t kFileNameHeader = 0x42;
constexpr uint8_t kFileNameSpace = 3;

// The longest name a value can hold: its length is one byte.
constexpr uint32_t kMaxStoredNameLength = 0xFF;
// The longest name this system gives a file or directory, in characters:
// the engine, the formatter, the checker and the FTP server all keep to it,
// and a directory listing record has room for exactly this many.
constexpr uint32_t kMaxNameLength = 28;

constexpr uint32_t FileNameValueSize(uint32_t nameLength) { return kFileNameHeader + 2 * nameLength; }

// Writes the value for `name` (n bytes) under `parent` into `out`, which
// holds FileNameValueSize(n) bytes.
void EncodeFileName(uint8_t* out, uint32_t parent, const char* name, uint32_t n);

// The parent record number of a value of at least 0x42 bytes.
uint32_t FileNameParent(const uint8_t* value);

// The name of a value of `size` bytes as 8-bit characters (the low byte of
// each unit); false when the name runs past the value.
bool DecodeFileName(const uint8_t* value, uint32_t size, std::string& name);

}  // namespace vrax
