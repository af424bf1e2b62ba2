// Reading a whole directory into a find snapshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileio/vrax_io.h"

namespace vrax {

// One directory being read, inside one VRAX_FindFirstFile call. It closes
// its Toolkit when it goes, so it must go while the interface lock is held.
struct VraxDir {
  Toolkit* toolkit = nullptr;
  std::string path;  // the search pattern cut at its first "/*"

  VraxDir() = default;
  ~VraxDir();
  VraxDir(const VraxDir&) = delete;
  VraxDir& operator=(const VraxDir&) = delete;
};

// Reads every entry of the opened directory, in the volume's order, in one
// walk of its index, and returns the names that do not begin with "." in a
// new VRAX_FIND (next index 0) with what is known of each entry (read from
// its record by number), or null when there is none. A failing read prints
// "-> readdir_vrax() [%s] error: %d\n" and ends the reading; the names read
// before it are kept. The caller holds the interface lock; the directory's
// Toolkit serves the reading of the records too.
VRAX_FIND* readdir_vrax(VraxDir& dir);

}  // namespace vrax
