#include "tree_copier.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "copy_problems.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"

namespace vrax::mkfs {

namespace {

// Large pieces keep the number of volume calls small: each write is one
// call under the interface lock.
constexpr size_t kCopyChunk = 4 * 1024 * 1024;

// WriteContents' result when the host file could not be read (reported
// there); no volume error has this value.
constexpr int32_t kHostUnreadable = std::numeric_limits<int32_t>::min();

std::string Child(const std::string& volume, const std::string& name) {
  return volume + "/" + name;
}

// True when `path` is the very file being written: a tree that holds its
// own target image must not copy it while it changes.
bool SameFile(const std::string& path, const std::string& target) {
  std::error_code failed;
  return std::filesystem::equivalent(path, target, failed) && !failed;
}

}  // namespace

void TreeCopier::Skip(const std::string& hostPath, const std::string& reason) {
  std::fprintf(stderr, "vrax-mkfs: skipped %s: %s\n", hostPath.c_str(), reason.c_str());
  ++tally_.skipped;
}

int32_t TreeCopier::SkipFor(const HostEntry& entry, int32_t error) {
  const char* problem = EntryProblem(error);
  if (problem == nullptr) return error != kOk ? error : -1;
  Skip(entry.path, problem);
  return kOk;
}

int32_t TreeCopier::CopyDirectory(const std::string& host, const std::string& volume,
                                  std::string& failedAt) {
  std::vector<HostEntry> entries;
  std::string error;
  if (!ListHostDirectory(host, entries, error)) {
    Skip(host + "/", "cannot read the folder: " + error);
    return kOk;
  }
  for (const HostEntry& entry : entries) {
    if (const int32_t failed = CopyEntry(entry, volume, failedAt)) return failed;
  }
  return kOk;
}

// What the volume cannot hold is reported before anything is created.
bool TreeCopier::Storable(const HostEntry& entry, const std::string& volume) {
  if (entry.kind == HostKind::kOther) {
    Skip(entry.path, "not a regular file or a folder");
    return false;
  }
  const std::string problem = NameProblem(entry.name);
  if (!problem.empty()) {
    Skip(entry.path, problem);
    return false;
  }
  struct stat existing {};
  if (VRAX_stat64(Child(volume, entry.name).c_str(), &existing) == kOk) {
    Skip(entry.path, EntryProblem(kErrAlreadyExists));
    return false;
  }
  if (entry.kind == HostKind::kFile && SameFile(entry.path, target_)) {
    Skip(entry.path, "the volume being written");
    return false;
  }
  if (entry.kind == HostKind::kFile && entry.size > largestFile_) {
    Skip(entry.path, EntryProblem(kErrFileTooLarge));
    return false;
  }
  return true;
}

int32_t TreeCopier::CopyEntry(const HostEntry& entry, const std::string& volume,
                              std::string& failedAt) {
  if (!Storable(entry, volume)) return kOk;
  failedAt = entry.path;
  if (entry.kind == HostKind::kDirectory) return CopySubdirectory(entry, volume, failedAt);
  return CopyFile(entry, volume);
}

// The folder's time is set after its contents are in, so nothing that
// follows can disturb it.
int32_t TreeCopier::CopySubdirectory(const HostEntry& entry, const std::string& volume,
                                     std::string& failedAt) {
  const std::string path = Child(volume, entry.name);
  if (VRAX_mkdir(path.c_str()) != 0) return SkipFor(entry, VRAX_LastError());
  ++tally_.directories;
  if (const int32_t failed = CopyDirectory(entry.path, path, failedAt)) return failed;
  failedAt = entry.path;
  return KeepModified(entry, path);
}

// A file that cannot be copied whole is removed again, so the volume never
// holds a shortened copy.
int32_t TreeCopier::CopyFile(const HostEntry& entry, const std::string& volume) {
  const std::string path = Child(volume, entry.name);
  const int32_t failed = WriteContents(entry, path);
  if (failed != kOk) {
    VRAX_remove(path.c_str(), 1);
    return failed == kHostUnreadable ? kOk : SkipFor(entry, failed);
  }
  ++tally_.files;
  tally_.bytes += entry.size;
  return KeepModified(entry, path);
}

// 0 when the whole file was written, kHostUnreadable when the host file
// could not be read, else the volume's error number.
int32_t TreeCopier::WriteContents(const HostEntry& entry, const std::string& path) {
  std::ifstream in(entry.path, std::ios::binary);
  if (!in) {
    Skip(entry.path, "cannot read the file");
    return kHostUnreadable;
  }
  VRAX_FILE* file = VRAX_fopen64(path.c_str(), "wb");
  if (file == nullptr) return VRAX_LastError();
  buffer_.resize(kCopyChunk);
  int32_t result = kOk;
  while (result == kOk && in.read(buffer_.data(), kCopyChunk).gcount() > 0) {
    const size_t n = static_cast<size_t>(in.gcount());
    if (VRAX_fwrite(buffer_.data(), 1, n, file) != n) result = VRAX_LastError();
  }
  if (result == kOk && in.bad()) {
    Skip(entry.path, "cannot read the file");
    result = kHostUnreadable;
  }
  VRAX_fclose(file);
  return result;
}

// A time the descriptor cannot hold leaves the copy's own time, with a
// note; the entry itself is stored.
int32_t TreeCopier::KeepModified(const HostEntry& entry, const std::string& path) {
  const int32_t error = VRAX_SetModifiedTime(path.c_str(), entry.modified);
  if (error == kErrInvalidParameter) {
    std::fprintf(stderr, "vrax-mkfs: %s: its modification time cannot be stored; "
                 "the copy keeps the time it was made\n", entry.path.c_str());
    return kOk;
  }
  return error;
}

}  // namespace vrax::mkfs
