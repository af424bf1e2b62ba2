// Setting the date last modified that a descriptor carries.
#include <cinttypes>
#include <cstring>
#include <ctime>

#include "fileio/interface_lock.h"
#include "fileio/last_error.h"
#include "fileio/trace.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/descriptor.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

constexpr size_t kModifiedAt = 3;
constexpr size_t kStampBytes = 5;

// The local time of `when` as the five stamp bytes (year - 1900, month,
// day, hour, minute). False for a year one byte cannot hold, and for 1900,
// whose year byte 0 reads back as "no date".
bool StampBytes(std::time_t when, uint8_t* stamp) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return false;
  if (local.tm_year < 1 || local.tm_year > 255) return false;
  stamp[0] = static_cast<uint8_t>(local.tm_year);
  stamp[1] = static_cast<uint8_t>(local.tm_mon + 1);
  stamp[2] = static_cast<uint8_t>(local.tm_mday);
  stamp[3] = static_cast<uint8_t>(local.tm_hour);
  stamp[4] = static_cast<uint8_t>(local.tm_min);
  return true;
}

// The same rights as any other change of the file: no system record, and
// a descriptor that allows writing. Only the stamp bytes change.
int32_t WriteStamp(Toolkit* t, const uint8_t* stamp) {
  if (IsSystemRecord(t) || CheckWritable(t) != kOk) return kErrAccessDenied;
  int32_t error = CheckNamedRecord(t);
  if (error != kOk) return error;
  uint8_t descriptor[kDescriptorSize] = {};
  error = ReadDescriptor(t, descriptor);
  if (error != kOk) return error;
  std::memcpy(descriptor + kModifiedAt, stamp, kStampBytes);
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_OSK_FILEDES, t->fileChain, descriptor, kDescriptorSize, 0, done,
                            kTransferWrite);
  return error != kOk ? error : CommitChain(t, t->fileChain);
}

}  // namespace

int32_t VRAX_SetModifiedTime(const char* path, std::time_t modified) {
  Trace("-> VRAX_SetModifiedTime(\"%s\",%" PRId64 ")\n", Shown(path),
        static_cast<int64_t>(modified));
  uint8_t stamp[kStampBytes] = {};
  if (!StampBytes(modified, stamp)) return NoteError(kErrInvalidParameter);
  const InterfaceCall call;
  if (!VRAX_CanWrite()) return NoteError(kErrAccessDenied);
  ToolkitOwner t;
  int32_t error = ToolkitOpen(t, path);
  if (error == kOk) error = WriteStamp(t.get(), stamp);
  return error != kOk ? NoteError(error) : kOk;
}

}  // namespace vrax
