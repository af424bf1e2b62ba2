// Whether the opened file may be written, renamed or removed.
#include "blockdev/attachment.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

int32_t CheckWritable(Toolkit* t) {
  uint8_t bits = 0;
  const int32_t error = ReadDescriptorAttributes(t, bits);
  if (error == kOk) return (bits & (kDescOwnerWrite | kDescPublicWrite)) ? kOk : kErrAccessDenied;
  if (error == kErrPathNotFound) return kOk;  // no descriptor, or an empty one
  return kErrAccessDenied;
}

int32_t CheckRemovable(Toolkit* t) {
  if (OpenedRecordNumber(t) < record::kSystemRecords) return kErrAccessDenied;
  if (CheckWritable(t) != kOk) return kErrAccessDenied;
  if (CountSharers(t->attachment, IsDirectory(t)) > 1) return kErrSharingViolation;
  return kOk;
}

}  // namespace vrax
