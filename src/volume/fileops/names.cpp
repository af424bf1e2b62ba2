// Name rules and path splitting.
#include <cstring>
#include <string>

#include "platform/error_codes.h"
#include "volume/allocation/allocation.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/file_name.h"
#include "volume/format/record.h"
#include "volume/toolkit/damage.h"

namespace vrax {

int32_t ValidateName(const char* name, uint32_t& length) {
  const size_t n = std::strlen(name);
  if (n == 0 || n > kMaxNameLength) return kErrBadPathname;
  if (std::strchr("/\\*&;->< #^", name[0]) != nullptr) return kErrBadPathname;
  length = static_cast<uint32_t>(n);
  return kOk;
}

void SplitPath(const char* path, std::string& parent, std::string& name) {
  const char* slash = path[0] == '\0' ? nullptr : std::strrchr(path + 1, '/');
  if (slash == nullptr) {
    parent = ".";
    name = path;
    return;
  }
  parent.assign(path, slash);
  name = slash + 1;
}

int32_t CheckNamedRecord(Toolkit* t) {
  const uint32_t parent = t->namedIn;
  const uint32_t n = OpenedRecordNumber(t);
  bool inUse = false;
  int32_t error = RecordInUse(t, n, inUse);
  if (error != kOk) return error;
  if (!inUse) return VolumeDamage(t, "the name leads to a record marked free");
  if (RecordBaseRecord(t->fileChain.head->image) != 0) {
    return VolumeDamage(t, "the name leads to an extension record");
  }
  if (parent == kNotNamed) return kOk;  // not reached through a name
  uint8_t value[kFileNameHeader] = {};
  uint32_t done = 0;
  error = AttributeTransfer(t, AT_FILE_NAME, t->fileChain, value, kFileNameHeader, 0, done,
                            kTransferRead);
  if (error == kErrPathNotFound || (error == kOk && done == 0)) return kOk;  // no name to go by
  if (error != kOk) return error;
  if (done < kFileNameHeader) return VolumeDamage(t, "the record's file name is cut short");
  if (FileNameParent(value) != parent) {
    return VolumeDamage(t, "the record's own name places it in another directory");
  }
  return kOk;
}

}  // namespace vrax
