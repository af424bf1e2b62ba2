// Giving a file or directory a new name, in its own directory or in
// another directory of the volume.
//
// Order of the writes: the old name leaves its directory's index, then the
// record's own file name (parent and name) is rewritten, then the new name
// is linked. A crash in between leaves the record complete and named by
// nothing (a leak that the repair reconnects under the name the record
// itself holds, old or new), never one record under two names. A failure
// undoes the steps already made, newest first.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/file_name.h"
#include "volume/format/record.h"
#include "volume/index/index_update.h"
#include "volume/toolkit/damage.h"

namespace vrax {

namespace {

// Directory part of a path: everything before its last "/".
std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether directory `candidate` is `moved` or lies below it: its parents
// are followed up to the root.
int32_t LiesWithin(Toolkit* t, uint32_t candidate, uint32_t moved, bool& within) {
  within = false;
  for (uint32_t n = candidate, steps = 0; steps < 4096; ++steps) {
    if (n == moved) {
      within = true;
      return kOk;
    }
    if (n == record::kRoot) return kOk;
    uint32_t parent = 0;
    const int32_t error = WalkPath(t, n, "..", parent);
    if (error != kOk) return error;
    n = parent;
  }
  return Corruption();  // a loop of parents
}

// The two directories of a rename (one Toolkit each, the same one when the
// name stays in its directory) and the names.
struct RenamePlan {
  Toolkit* from = nullptr;
  Toolkit* to = nullptr;
  std::string oldName;
  std::string newName;
  bool sameDirectory() const { return from == to; }
  ~RenamePlan() {
    if (to != from) ToolkitClose(to);
    ToolkitClose(from);
  }
};

int32_t OpenDirectories(const std::string& oldPath, const std::string& newPath, RenamePlan& plan) {
  const std::string oldDir = DirectoryPart(oldPath);
  const std::string newDir = newPath.find('/') == std::string::npos ? oldDir : DirectoryPart(newPath);
  plan.oldName = LastComponent(oldPath);
  plan.newName = LastComponent(newPath);
  int32_t error = ToolkitOpen(plan.from, oldDir.c_str());
  if (error != kOk) return error;
  if (EqualsNoCase(oldDir, newDir)) {
    plan.to = plan.from;
    return kOk;
  }
  error = ToolkitOpen(plan.to, newDir.c_str());
  if (error != kOk) return error;
  if (!IsDirectory(plan.to)) return kErrPathNotFound;
  if (OpenedRecordNumber(plan.to) == OpenedRecordNumber(plan.from)) {
    ToolkitClose(plan.to);
    plan.to = plan.from;
  }
  return kOk;
}

// What must hold before anything changes: a valid new name, a record that
// may be renamed and that its old name rightly reaches, a target directory
// that may be written and does not lie inside a moved directory, and no
// other record under the new name.
int32_t CheckRename(Toolkit* t, RenamePlan& plan, const std::string& oldPath,
                    const std::string& newPath) {
  uint32_t n = 0;
  int32_t error = ValidateName(plan.newName.c_str(), n);
  if (error == kOk) error = CheckNamedRecord(t);
  if (error == kOk && !plan.sameDirectory()) error = CheckWritable(plan.to);
  if (error != kOk) return error;
  if (!plan.sameDirectory() && IsDirectory(t)) {
    bool within = false;
    error = LiesWithin(t, OpenedRecordNumber(plan.to), OpenedRecordNumber(t), within);
    if (error != kOk) return error;
    if (within) {
      std::fprintf(stderr, "rename cannot move %s to %s\n", oldPath.c_str(), newPath.c_str());
      return kErrBadPathname;
    }
  }
  uint32_t existing = 0;
  if (WalkPath(t, OpenedRecordNumber(plan.to), plan.newName.c_str(), existing) == kOk &&
      !(plan.sameDirectory() && EqualsNoCase(plan.oldName, plan.newName))) {
    return kErrAlreadyExists;
  }
  return kOk;
}

int32_t Link(Toolkit* dir, const std::string& name, uint32_t record) {
  return LinkName(dir, dir->fileChain, name.c_str(), static_cast<uint32_t>(name.size()), record);
}

// Names the record by its file name and links that name; undone on failure.
int32_t Relink(Toolkit* t, Toolkit* dir, const std::string& name) {
  const uint32_t record = OpenedRecordNumber(t);
  int32_t error = SetFileName(t, t->fileChain, OpenedRecordNumber(dir), name.c_str(),
                              static_cast<uint32_t>(name.size()));
  if (error == kOk) error = CommitChain(t, t->fileChain);
  if (error != kOk) {
    DiscardChanges(t, t->fileChain);
    return error;
  }
  return Link(dir, name, record);
}

int32_t MoveName(Toolkit* t, RenamePlan& plan) {
  const uint32_t record = OpenedRecordNumber(t);
  uint32_t removed = 0;
  int32_t error = UnlinkName(plan.from, plan.from->fileChain, plan.oldName.c_str(),
                             static_cast<uint32_t>(plan.oldName.size()), removed);
  if (error != kOk) return error;
  if (removed != record) {
    Link(plan.from, plan.oldName, removed);
    return VolumeDamage(t, "the directory lists the name twice");
  }
  error = Relink(t, plan.to, plan.newName);
  if (error != kOk && Relink(t, plan.from, plan.oldName) != kOk) {
    std::fprintf(stderr, "rename: record %u lost its name; vrax-fsck --repair reconnects it\n",
                 record);
  }
  return error;
}

}  // namespace

int32_t SetFileName(Toolkit* t, RecordChain& chain, uint32_t parent, const char* name,
                    uint32_t n) {
  std::vector<uint8_t> value(FileNameValueSize(n), 0);
  uint8_t old[kFileNameHeader] = {};
  uint32_t done = 0;
  int32_t error =
      AttributeTransfer(t, AT_FILE_NAME, chain, old, kFileNameHeader, 0, done, kTransferRead);
  if (error != kOk) return error;
  EncodeFileName(value.data(), parent, name, n);
  if (done == kFileNameHeader) {
    // Times, sizes, flags and name space stay as they were.
    std::memcpy(value.data() + 8, old + 8, 0x38);
    value[0x41] = old[0x41];
  }
  error = SetAttributeSize(t, chain, AT_FILE_NAME, static_cast<uint32_t>(value.size()));
  if (error != kOk) return error;
  return AttributeTransfer(t, AT_FILE_NAME, chain, value.data(),
                           static_cast<uint32_t>(value.size()), 0, done, kTransferWrite);
}

int32_t RenameNode(Toolkit* t, const char* oldPath, const char* newPath) {
  const std::string oldCopy = oldPath, newCopy = newPath;
  int32_t error = CheckRemovable(t);
  if (error != kOk) return error;
  RenamePlan plan;
  error = OpenDirectories(oldCopy, newCopy, plan);
  if (error == kOk) error = CheckRename(t, plan, oldCopy, newCopy);
  if (error == kOk) error = MoveName(t, plan);
  return error;
}

int32_t ToolkitRename(const char* oldPath, const char* newPath) {
  if (oldPath == nullptr || newPath == nullptr || *newPath == '\0') return kErrBadPathname;
  ToolkitOwner t;
  const int32_t error = ToolkitOpen(t, oldPath);
  return error != kOk ? error : RenameNode(t.get(), oldPath, newPath);
}

}  // namespace vrax
