#include "fileio/dir_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "volume/index/index.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

// The directory stream begins with ".." and "." (offsets 0 and 32); the
// directory's own entries follow.
constexpr uint32_t kFirstEntryOffset = 2 * kDirRecordSize;

// Appends the names of `count` entries. Hidden names (a leading ".") are
// left out, and so is an empty name, which no open could use. A name of
// 28 characters fills its field and ends there.
void AppendNames(VRAX_FIND& find, const uint8_t* entries, uint32_t count) {
  find.names.reserve(find.names.size() + count);
  for (uint32_t i = 0; i < count; ++i) {
    const char* name = reinterpret_cast<const char*>(entries + i * kDirRecordSize);
    if (name[0] == '.' || name[0] == '\0') continue;
    find.names.emplace_back(name, strnlen(name, kDirRecordNameSize));
  }
}

}  // namespace

VraxDir::~VraxDir() { ToolkitClose(toolkit); }

VRAX_FIND* readdir_vrax(VraxDir& dir) {
  auto find = std::make_unique<VRAX_FIND>();
  for (uint32_t offset = kFirstEntryOffset;;) {
    uint32_t delivered = 0;
    const int32_t error = ReadDirectory(dir.toolkit, offset, kDirectorySlice, dir.entries.data(),
                                        delivered);
    if (error != 0) {
      std::fprintf(stderr, "-> readdir_vrax() [%s] error: %d\n", dir.path.c_str(), error);
      break;
    }
    const uint32_t count = std::min(delivered, kDirectorySlice) / kDirRecordSize;
    if (count == 0) break;
    AppendNames(*find, dir.entries.data(), count);
    // A stream that reached the end of the offset range has nothing more.
    if (offset > std::numeric_limits<uint32_t>::max() - count * kDirRecordSize) break;
    offset += count * kDirRecordSize;
  }
  if (find->names.empty()) return nullptr;
  return find.release();
}

}  // namespace vrax
