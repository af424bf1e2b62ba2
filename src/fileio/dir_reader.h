// Reading a whole directory into a find snapshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileio/vrax_io.h"

namespace vrax {

// Bytes asked of the volume per directory read: 128 entries of 32 bytes.
constexpr uint32_t kDirectorySlice = 4096;

// One directory being read, inside one VRAX_FindFirstFile call. It closes
// its Toolkit when it goes, so it must go while the interface lock is held.
struct VraxDir {
  std::vector<uint8_t> entries = std::vector<uint8_t>(kDirectorySlice);
  Toolkit* toolkit = nullptr;
  std::string path;  // the search pattern cut at its first "/*"

  VraxDir() = default;
  ~VraxDir();
  VraxDir(const VraxDir&) = delete;
  VraxDir& operator=(const VraxDir&) = delete;
};

// Reads every entry of the opened directory, in the volume's order, and
// returns the names that do not begin with "." in a new VRAX_FIND (next
// index 0), or null when there is none. A failing read prints
// "-> readdir_vrax() [%s] error: %d\n" and ends the reading; the names read
// before it are kept. The caller holds the interface lock.
VRAX_FIND* readdir_vrax(VraxDir& dir);

}  // namespace vrax
