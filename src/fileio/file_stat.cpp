// What a path names: a file or a directory, its size and its times.
#include <cinttypes>
#include <cstring>
#include <ctime>

#include "fileio/interface_lock.h"
#include "fileio/last_error.h"
#include "fileio/stat_fill.h"
#include "fileio/trace.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/descriptor.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

constexpr size_t kModifiedAt = 3;  // year - 1900, month, day, hour, minute
constexpr size_t kCreatedAt = 13;  // year - 1900, month, day
constexpr off_t kDirectorySize = 32768;

// A descriptor stamp (local time, to the minute) as seconds since 1970. It
// is read as standard time (no daylight-saving shift), the way the stamps
// have always been read. A zero year, month or day means no date: 0, as
// for a stamp that does not convert.
std::time_t StampSeconds(const uint8_t* stamp, bool withClock) {
  if (stamp[0] == 0 || stamp[1] == 0 || stamp[2] == 0) return 0;
  std::tm local{};
  local.tm_year = stamp[0];
  local.tm_mon = stamp[1] - 1;
  local.tm_mday = stamp[2];
  local.tm_hour = withClock ? stamp[3] : 0;
  local.tm_min = withClock ? stamp[4] : 0;
  local.tm_isdst = 0;
  const std::time_t seconds = std::mktime(&local);
  return seconds == static_cast<std::time_t>(-1) ? 0 : seconds;
}

}  // namespace

// A file without a whole descriptor keeps times 0; a file whose size cannot
// be read shows size 0.
VraxEntryInfo OpenedRecordInfo(Toolkit* t) {
  VraxEntryInfo info;
  info.directory = IsDirectory(t);
  if (info.directory) {
    info.size = kDirectorySize;
  } else {
    uint32_t size = 0;
    if (AttributeSize(t, t->fileChain, AT_DATA, size) == kOk) info.size = size;
  }
  uint8_t descriptor[kDescriptorSize] = {};
  if (ReadDescriptor(t, descriptor) == kOk) {
    info.modified = StampSeconds(descriptor + kModifiedAt, true);
    info.created = StampSeconds(descriptor + kCreatedAt, false);
  }
  return info;
}

void FillStatRecord(const VraxEntryInfo& info, struct stat& record) {
  std::memset(&record, 0, sizeof record);
  if (info.result != kOk) return;
  record.st_mode = info.directory ? S_IFDIR : S_IFREG;
  record.st_size = static_cast<off_t>(info.size);
  record.st_mtime = info.modified;
  record.st_atime = info.modified;
  record.st_ctime = info.created;
}

int32_t VRAX_stat64(const char* path, struct stat* record) {
  Trace("-> VRAX_stat64(\"%s\",0x%08" PRIXPTR ")\n", Shown(path), Address(record));
  const InterfaceCall call;
  if (record == nullptr) return NoteError(kErrInvalidParameter);
  std::memset(record, 0, sizeof *record);
  ToolkitOwner t;
  const int32_t error = ToolkitOpen(t, path);
  if (error != kOk) return NoteError(error);
  FillStatRecord(OpenedRecordInfo(t.get()), *record);
  return kOk;
}

}  // namespace vrax
