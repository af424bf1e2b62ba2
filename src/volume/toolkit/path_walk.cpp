// Walking a path through the directory indexes from a start record.
#include <cstring>

#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/format/file_name.h"
#include "volume/format/record.h"
#include "volume/index/index.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

// The parent of directory d from its file name; 0 when the file name is
// missing or empty.
int32_t ParentOf(Toolkit* t, RecordChain& chain, uint32_t& parent) {
  uint8_t value[kFileNameHeader] = {};
  uint32_t done = 0;
  parent = 0;
  const int32_t error =
      AttributeTransfer(t, AT_FILE_NAME, chain, value, kFileNameHeader, 0, done, kTransferRead);
  if (error == kOk && done == kFileNameHeader) parent = FileNameParent(value);
  return kOk;
}

int32_t LookupComponent(Toolkit* t, uint32_t d, const char* name, uint32_t n, uint32_t& next) {
  if (n == 1 && name[0] == '.') {
    next = d;
    return kOk;
  }
  if (n == 2 && name[0] == '.' && name[1] == '.' && d == record::kRoot) {
    next = record::kRoot;
    return kOk;
  }
  RecordChain chain;
  int32_t error = OpenRecord(t, chain, d);
  if (error != kOk) return error;
  if (n == 2 && name[0] == '.' && name[1] == '.') return ParentOf(t, chain, next);
  return IndexLookup(t, chain, name, n, next);
}

}  // namespace

int32_t WalkPath(Toolkit* t, uint32_t start, const char* path, uint32_t& n, uint32_t* namedIn) {
  n = 0xFFFFFFFFu;
  if (namedIn != nullptr) *namedIn = kNotNamed;
  if (path == nullptr || *path == '\0') return kErrPathNotFound;
  uint32_t current = start;
  const char* p = path;
  while (*p != '\0') {
    if (*p == '/') ++p;
    const char* end = std::strchr(p, '/');
    const uint32_t length = static_cast<uint32_t>(end ? end - p : std::strlen(p));
    const bool dots = (length == 1 && p[0] == '.') || (length == 2 && p[0] == '.' && p[1] == '.');
    const uint32_t directory = current;
    const int32_t error = LookupComponent(t, current, p, length, current);
    if (error != kOk) return error;
    if (namedIn != nullptr && length != 0) *namedIn = dots ? kNotNamed : directory;
    n = current;
    p += length;
  }
  return n != 0xFFFFFFFFu ? kOk : kErrPathNotFound;
}

}  // namespace vrax
