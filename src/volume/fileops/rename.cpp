// Giving a file or directory a new name inside its own directory.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/file_name.h"
#include "volume/index/index_update.h"

namespace vrax {

namespace {

// Directory part of a path: everything up to and including its last "/".
std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Rewrites the name in the opened file's AT_FILE_NAME, keeping the parent
// reference and the other fields.
int32_t RewriteFileName(Toolkit* t, const std::string& name) {
  const uint32_t n = static_cast<uint32_t>(name.size());
  std::vector<uint8_t> value(FileNameValueSize(n), 0);
  uint32_t done = 0;
  int32_t error = AttributeTransfer(t, AT_FILE_NAME, t->fileChain, value.data(), kFileNameHeader,
                                    0, done, kTransferRead);
  if (error != kOk) return error;
  value[0x40] = static_cast<uint8_t>(n);
  for (uint32_t i = 0; i < n; ++i) value[kFileNameHeader + 2 * i] = static_cast<uint8_t>(name[i]);
  error = SetAttributeSize(t, t->fileChain, AT_FILE_NAME, static_cast<uint32_t>(value.size()));
  if (error != kOk) return error;
  return AttributeTransfer(t, AT_FILE_NAME, t->fileChain, value.data(),
                           static_cast<uint32_t>(value.size()), 0, done, kTransferWrite);
}

// Links `add` and unlinks `drop` in the parent's index. A new name that
// differs from the old one only in letter case collides with it, so it is
// linked after the old one is gone; otherwise the new name is linked first.
// A failure puts the old name back.
int32_t SwapNames(Toolkit* t, RecordChain& parent, const std::string& drop,
                  const std::string& add, uint32_t record) {
  const uint32_t nd = static_cast<uint32_t>(drop.size());
  const uint32_t na = static_cast<uint32_t>(add.size());
  uint32_t removed = 0;
  if (EqualsNoCase(drop, add)) {
    int32_t error = UnlinkName(t, parent, drop.c_str(), nd, removed);
    if (error != kOk) return error;
    error = LinkName(t, parent, add.c_str(), na, record);
    if (error != kOk) LinkName(t, parent, drop.c_str(), nd, record);
    return error;
  }
  int32_t error = LinkName(t, parent, add.c_str(), na, record);
  if (error != kOk) return error;
  error = UnlinkName(t, parent, drop.c_str(), nd, removed);
  if (error != kOk) UnlinkName(t, parent, add.c_str(), na, removed);
  return error;
}

}  // namespace

int32_t RenameNode(Toolkit* t, const char* oldPath, const char* newName) {
  const std::string oldName = LastComponent(oldPath);
  uint32_t n = 0;
  int32_t error = ValidateName(newName, n);
  if (error != kOk) return error;
  if (std::strchr(newName, '/') != nullptr) return kErrBadPathname;
  error = CheckRemovable(t);
  if (error != kOk) return error;
  uint8_t value[kFileNameHeader] = {};
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_FILE_NAME, t->fileChain, value, kFileNameHeader, 0, done,
                            kTransferRead);
  if (error != kOk) return error;
  if (done < kFileNameHeader) return kErrBadStructure;
  RecordChain parent;
  error = OpenRecord(t, parent, FileNameParent(value));
  if (error != kOk) return error;
  uint32_t existing = 0;
  if (WalkPath(t, parent.head->recordNumber, newName, existing) == kOk &&
      !EqualsNoCase(oldName, newName)) {
    return kErrAlreadyExists;
  }
  const uint32_t record = OpenedRecordNumber(t);
  error = SwapNames(t, parent, oldName, newName, record);
  if (error != kOk) return error;
  error = RewriteFileName(t, newName);
  if (error != kOk) SwapNames(t, parent, newName, oldName, record);
  return error;
}

int32_t ToolkitRename(const char* oldPath, const char* newPath) {
  const std::string oldCopy = oldPath, newCopy = newPath;
  Toolkit* t = nullptr;
  int32_t error = ToolkitOpen(t, oldCopy.c_str());
  if (error != kOk) return error;
  std::string newName = newCopy;
  if (!newCopy.empty() && newCopy.find('/') != std::string::npos) {
    const std::string oldDir = DirectoryPart(oldCopy), newDir = DirectoryPart(newCopy);
    if (!EqualsNoCase(oldDir, newDir)) {
      std::fprintf(stderr, "rename cannot move %s to %s\n", oldCopy.c_str(), newCopy.c_str());
      ToolkitClose(t);
      return kErrBadPathname;
    }
    newName = LastComponent(newCopy);
  }
  error = RenameNode(t, oldCopy.c_str(), newName.c_str());
  ToolkitClose(t);
  return error;
}

}  // namespace vrax
