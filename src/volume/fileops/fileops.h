// Changing which names exist: creating files and directories, renaming
// inside a directory, removing files and empty directories.
//
// Every operation leaves the volume as it was when it fails: a new record
// is complete on disk before its name is linked into the parent's index, a
// rename links the new name before it unlinks the old one, and a removal
// unlinks the name and frees the record before it frees the clusters, so a
// failure at any step leaves no name pointing at a free record and no
// record reachable twice.
#pragma once

#include <cstdint>
#include <string>

#include "volume/toolkit/toolkit.h"

namespace vrax {

constexpr uint32_t kMaxNameLength = 28;
enum NodeKind : int { kNodeFile = 0, kNodeDirectory = 2 };

int32_t ToolkitCreateFile(Toolkit*& toolkit, const char* path);
int32_t ToolkitMakeDirectory(const char* path);
int32_t ToolkitRename(const char* oldPath, const char* newPath);
int32_t ToolkitRemove(const char* path);

// 0 and the name's length, or 161: 1 to 28 characters, the first not one of
// "/\*&;->< #^".
int32_t ValidateName(const char* name, uint32_t& length);

int32_t CreateNode(Toolkit* toolkit, const char* path, int kind);
int32_t CreateRecord(Toolkit* toolkit, RecordChain& parent, int kind, const char* name,
                     uint32_t initialSize);
int32_t BuildRecord(Toolkit* toolkit, uint32_t parent, int kind, RecordChain& chain,
                    const char* name, uint32_t n, uint32_t initialSize);
int32_t RenameNode(Toolkit* toolkit, const char* oldPath, const char* newName);
int32_t CheckDeletable(Toolkit* toolkit, int kind);
int32_t ReleaseRecord(Toolkit* toolkit, uint32_t recordNumber);

// IndexInsert and IndexRemove on a parent directory, undone completely
// when they fail.
int32_t LinkName(Toolkit* toolkit, RecordChain& parent, const char* name, uint32_t n,
                 uint32_t record);
int32_t UnlinkName(Toolkit* toolkit, RecordChain& parent, const char* name, uint32_t n,
                   uint32_t& record);

// Splits a path (without device) at its last "/" after the first
// character: the parent path ("." when there is none) and the name.
void SplitPath(const char* path, std::string& parent, std::string& name);

}  // namespace vrax
