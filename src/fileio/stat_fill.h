// The stat record of an opened file or directory, as VRAX_stat64 and the
// directory snapshot fill it. The caller holds the interface lock.
#pragma once

#include <sys/stat.h>

#include "fileio/vrax_io.h"

namespace vrax {

// What is known of the record opened in `toolkit` (its file chain): kind,
// size (32768 for a directory, 0 when a file's size cannot be read) and the
// descriptor's times (0 without a whole descriptor).
VraxEntryInfo OpenedRecordInfo(Toolkit* toolkit);

// `record` zeroed, then filled from `info`: st_mode 0x4000 or 0x8000, st_size,
// st_mtime and st_atime the date last modified, st_ctime the creation date.
void FillStatRecord(const VraxEntryInfo& info, struct stat& record);

}  // namespace vrax
