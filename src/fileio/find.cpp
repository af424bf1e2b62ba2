// Directory enumeration: a snapshot of the names taken at find-first and
// handed out one by one.
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <new>
#include <string>

#include "fileio/dir_reader.h"
#include "fileio/interface_lock.h"
#include "fileio/stat_fill.h"
#include "fileio/trace.h"
#include "fileio/vrax_io.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

bool Valid(const VRAX_FIND* find) { return find != nullptr && find != kInvalidFind; }

// The name (at most 259 characters and the terminator) and the stat
// record of entry `index`.
void CopyEntry(const VRAX_FIND& find, size_t index, VraxFindData& data) {
  const std::string& name = find.names[index];
  const size_t length = std::min(name.size(), sizeof data.cFileName - 1);
  std::memcpy(data.cFileName, name.data(), length);
  data.cFileName[length] = '\0';
  const VraxEntryInfo info = index < find.info.size() ? find.info[index] : VraxEntryInfo{};
  data.statResult = info.result;
  FillStatRecord(info, data.record);
}

// Opens what the pattern names up to its first "/*" ("/1/d/*.txt" lists
// all of /1/d); true when that is a directory.
bool OpenDirectory(VraxDir& dir, const char* pattern) {
  dir.path = pattern;
  const size_t wildcard = dir.path.find("/*");
  if (wildcard != std::string::npos) dir.path.erase(wildcard);
  return ToolkitOpen(dir.toolkit, dir.path.c_str()) == 0 && IsDirectory(dir.toolkit);
}

// The whole directory is read under the lock, so the snapshot is
// consistent with every other call; its Toolkit is closed under the lock
// too, since closing touches the device shared with other calls.
VRAX_FIND* ReadSnapshot(const char* pattern) {
  const InterfaceCall call;
  VraxDir dir;
  if (!OpenDirectory(dir, pattern)) return nullptr;
  return readdir_vrax(dir);
}

}  // namespace

VRAX_FIND* VRAX_FindFirstFile(const char* pattern, VraxFindData* data) {
  Trace("-> VRAX_FindFirstFile(\"%s\",0x%08" PRIXPTR ")\n", Shown(pattern), Address(data));
  if (pattern == nullptr || data == nullptr) return kInvalidFind;
  VRAX_FIND* find = nullptr;
  try {
    find = ReadSnapshot(pattern);
  } catch (const std::bad_alloc&) {
    return kInvalidFind;
  }
  if (find == nullptr) return kInvalidFind;
  CopyEntry(*find, 0, *data);
  find->nextIndex = 1;
  return find;
}

// No lock: the names are the caller's private snapshot.
uint32_t VRAX_FindNextFile(VRAX_FIND* find, VraxFindData* data) {
  Trace("-> VRAX_FindNextFile(0x%08" PRIXPTR ",0x%08" PRIXPTR ")\n", Address(find),
        Address(data));
  if (!Valid(find) || data == nullptr || find->nextIndex >= find->names.size()) return 0;
  CopyEntry(*find, find->nextIndex, *data);
  return ++find->nextIndex;
}

int VRAX_FindClose(VRAX_FIND* find) {
  Trace("-> VRAX_FindClose(0x%08" PRIXPTR ")\n", Address(find));
  if (Valid(find)) delete find;
  return 0;
}

}  // namespace vrax
