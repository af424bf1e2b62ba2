// Changing which names exist: creating files and directories, renaming and
// moving them between directories, removing files and empty directories.
//
// Every operation writes in an order that leaves the volume sound after
// each write (docs/write-ordering.md): a new record is complete on disk
// before its name is linked into the parent's index, a rename unlinks the
// old name before it links the new one, and a removal unlinks the name and
// frees the record before it frees the clusters. A crash at any point
// leaves leaks at worst; a failure undoes the steps already made.
#pragma once

#include <cstdint>
#include <string>

#include "volume/format/file_name.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

enum NodeKind : int { kNodeFile = 0, kNodeDirectory = 2 };

// `deferred`: the new file is opened for deferred durability (FileCommit):
// its creation's last write waits for the file's first commit, which is
// then due even when nothing is written.
int32_t ToolkitCreateFile(Toolkit*& toolkit, const char* path, bool deferred = false);
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
// Gives the file or directory opened in `toolkit` (reached by `oldPath`)
// the name and directory of `newPath` (a bare name keeps the directory).
int32_t RenameNode(Toolkit* toolkit, const char* oldPath, const char* newPath);
// Rewrites a record's file name (parent and name) in memory, keeping its
// other fields; the caller writes the record.
int32_t SetFileName(Toolkit* toolkit, RecordChain& chain, uint32_t parent, const char* name,
                    uint32_t n);
int32_t CheckDeletable(Toolkit* toolkit, int kind);
int32_t ReleaseRecord(Toolkit* toolkit, uint32_t recordNumber);

// IndexInsert and IndexRemove on a parent directory, undone completely
// when they fail.
int32_t LinkName(Toolkit* toolkit, RecordChain& parent, const char* name, uint32_t n,
                 uint32_t record);
int32_t UnlinkName(Toolkit* toolkit, RecordChain& parent, const char* name, uint32_t n,
                   uint32_t& record);

// Checks, before a change, that the record the Toolkit opened is the one
// its name means: marked in use, a base record, and its own file name
// giving the directory that named it (Toolkit::namedIn). Anything else is
// damage (see damage.h): 114 and nothing changed.
int32_t CheckNamedRecord(Toolkit* toolkit);

// Splits a path (without device) at its last "/" after the first
// character: the parent path ("." when there is none) and the name.
void SplitPath(const char* path, std::string& parent, std::string& name);

}  // namespace vrax
