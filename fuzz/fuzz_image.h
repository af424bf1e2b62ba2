// The volume the image harnesses damage: a small volume (4 MiB, 1 KiB
// clusters) made once per process by the real formatter and filled through
// the engine (directories of one and two index levels, resident, fragmented
// and multi-record files), and the damage an input describes.
//
// An input is a list of patches. Each patch is a kind byte, a two-byte
// selector, a length byte (at most 32) and that many bytes:
//   kind % 3 == 0  raw bytes at (selector x 251) modulo the image size;
//   kind % 3 == 1  bytes into record (selector modulo the records) at the
//                  offset of the first data byte, in memory form, its fix-ups
//                  applied again, so the damage meets the checks behind them;
//   kind % 3 == 2  the same for an index block of the volume.
// A patch cut short by the end of the input ends the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrax::fuzz {

struct BaseImage {
  std::vector<uint8_t> bytes;
  uint32_t recordSize = 0;
  uint32_t blockSize = 0;
  std::vector<uint64_t> records;  // disk offset of each record
  std::vector<uint64_t> blocks;   // disk offset of each index block in use
};

// Built at the first call; later calls give the same image.
const BaseImage& Base();

// The base image with the input's patches applied.
std::vector<uint8_t> Damaged(const uint8_t* data, size_t size);

// Writes `bytes` to an in-memory file and gives a path that opens it
// ("/proc/self/fd/N"); the file lives until the next call.
std::string ServeImage(const std::vector<uint8_t>& bytes);

}  // namespace vrax::fuzz
