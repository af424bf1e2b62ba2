// Building one index entry (layout in volume/format/index_node.h).
#include <cstring>

#include "platform/error_codes.h"
#include "volume/format/bytes.h"
#include "volume/format/file_name.h"
#include "volume/format/index_node.h"
#include "volume/index/index_update.h"

namespace vrax {

namespace {

// The bytes an entry needs for what is asked of it: the key with its name
// when one is given, and the sub-node field with flag 0x01.
uint32_t NeededLength(uint8_t flags, const char* name, uint32_t n) {
  const uint32_t key = name != nullptr ? ie::kName + 2 * n : ie::kMinEntry;
  return (flags & ie::kHasSubNode) != 0 ? key + 8 : key;
}

}  // namespace

int32_t IndexEntryBuild(Toolkit* /*toolkit*/, RecordChain& directory, uint8_t* entry,
                        uint32_t length, uint8_t flags, uint32_t subNodeVcn,
                        uint32_t recordNumber, const char* name, uint32_t n) {
  if (name != nullptr && (n == 0 || n > 0xFF)) return kErrInvalidParameter;
  if (length > 0xFFFF || length < NeededLength(flags, name, n)) return kErrInvalidParameter;
  if (name != nullptr && directory.head == nullptr) return kErrInvalidParameter;
  std::memset(entry, 0, length);
  PutLE64(entry + ie::kReference, recordNumber);
  PutLE16(entry + ie::kLength, static_cast<uint16_t>(length));
  entry[ie::kFlags] = flags;
  if (name != nullptr) EncodeFileName(entry + ie::kKey, directory.head->recordNumber, name, n);
  if ((flags & ie::kHasSubNode) != 0) SetEntrySubNode(entry, subNodeVcn);
  return kOk;
}

}  // namespace vrax
