// The file interface: calls shaped like the standard file calls, over the
// one mounted drive. Paths are drive-prefixed ("/1/docs/a.txt"). Every call
// that reaches the volume holds the interface lock for its whole length, so
// volume operations run one at a time whatever the number of threads.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vrax {

struct BlockDevice;
struct Toolkit;

// The mount object: mounts the drive at construction, unmounts at
// destruction. `hostPath`, when not empty, is the disk image or block
// device opened for the drive instead of the disk its number names.
// Every VRAX_FILE must be closed before the mount object is destroyed:
// unmounting frees the device that open files are attached to.
class VraxInterface {
 public:
  VraxInterface(const char* drivePath, bool writable, const std::string& hostPath = {});
  ~VraxInterface();
  VraxInterface(const VraxInterface&) = delete;
  VraxInterface& operator=(const VraxInterface&) = delete;

  bool mounted() const { return root_ != nullptr; }

 private:
  Toolkit* root_ = nullptr;
  BlockDevice* device_ = nullptr;  // the drive this object created
};

// An open file: the volume context, the 64-bit position and the access bits
// (read 0x100, write 0x80). `deferredError` is the error of a commit of its
// deferred writes made on behalf of another call (see VRAX_fopen64's "d").
struct VRAX_FILE {
  Toolkit* toolkit = nullptr;
  uint64_t position = 0;
  uint32_t access = 0;
  int32_t deferredError = 0;
};

// What the snapshot knows of one entry, read from its record by number:
// what VRAX_stat64 gives for the entry's path, or the error that reading
// the record gave.
struct VraxEntryInfo {
  int32_t result = 0;  // 0, or the error (the other fields are then 0)
  bool directory = false;
  int64_t size = 0;
  std::time_t modified = 0;
  std::time_t created = 0;
};

// A directory snapshot taken by VRAX_FindFirstFile: the names and, at the
// same index, what is known of each.
struct VRAX_FIND {
  std::vector<std::string> names;
  std::vector<VraxEntryInfo> info;
  uint32_t nextIndex = 0;
};

// What the find calls fill in: the name, and the stat record of the entry
// as VRAX_stat64 would fill it for its path (`statResult` 0), or all zeros
// with the error that reading the entry gave.
struct VraxFindData {
  char cFileName[260] = {};
  int32_t statResult = 0;
  struct stat record = {};
};

// The failure result of VRAX_FindFirstFile (all bits set).
inline VRAX_FIND* const kInvalidFind = reinterpret_cast<VRAX_FIND*>(~uintptr_t{0});

constexpr uint32_t kAccessRead = 0x100;
constexpr uint32_t kAccessWrite = 0x80;

// Drive table, write check, error text.
bool VRAX_CanWrite();
int32_t VRAX_PrintError(int32_t error);
// The error number of the calling thread's most recent failed call of this
// interface (0 when none failed yet); calls that succeed leave it alone.
int32_t VRAX_LastError();

// File handles. A mode may carry "d" after its first character (such as
// "wbd"): deferred durability, for large sequential writes. Each write then
// reaches the volume as usual (every other call, of any thread, sees it at
// once), but does not wait for stable storage: the handle's data and its
// records become durable together, in the order a crash needs, when the
// handle is closed (VRAX_fclose then reports whether that succeeded) or
// when another call has to see the file. A write that fails drops what the
// handle wrote since it was last made durable.
VRAX_FILE* VRAX_fopen64(const char* path, const char* mode);
size_t VRAX_fread(void* buffer, size_t size, size_t count, VRAX_FILE* file);
// A write is done whole or not at all: one that would reach beyond the
// largest file the volume holds (2^32 minus one cluster) returns 0.
size_t VRAX_fwrite(const void* buffer, size_t size, size_t count, VRAX_FILE* file);
// Positions are counted from the start of the file (origin SEEK_SET); a
// null handle, a negative offset or another origin gives -1 and leaves the
// position as it was.
int VRAX_fseeko64(VRAX_FILE* file, int64_t offset, int origin);
// 0, or -1 when the handle's deferred writes could not be made durable.
int VRAX_fclose(VRAX_FILE* file);
// Fills `record` (zeroed first): st_mode 0x4000 or 0x8000, st_size, and the
// descriptor's times. 0, or the volume's error number.
int32_t VRAX_stat64(const char* path, struct stat* record);
// Sets the date last modified of the file or directory at `path` to the
// local time of `modified` (to the minute). 0, 5 on a read-only drive, for a
// system record or a descriptor that forbids writing, 87 for a time whose
// year the descriptor cannot hold (before 1901 or after 2155), or the
// volume's error number.
int32_t VRAX_SetModifiedTime(const char* path, std::time_t modified);

// Namespace calls: 0 or -1.
int VRAX_rename(const char* oldPath, const char* newPath);
int VRAX_remove(const char* path, uint8_t quiet);
int VRAX_mkdir(const char* path);
int VRAX_rmdir(const char* path);

// Directory enumeration.
VRAX_FIND* VRAX_FindFirstFile(const char* pattern, VraxFindData* data);
uint32_t VRAX_FindNextFile(VRAX_FIND* find, VraxFindData* data);
int VRAX_FindClose(VRAX_FIND* find);

}  // namespace vrax
