#include "volume/format/record.h"

#include <cstring>

namespace vrax {

void BuildEmptyRecord(uint8_t* image, uint32_t recordSize, uint32_t bytesPerSector,
                      uint16_t usn) {
  std::memset(image, 0, recordSize);
  std::memcpy(image, "FILE", 4);
  const uint32_t count = RecordUsaCount(recordSize, bytesPerSector);
  const uint32_t first = record::kHeaderSize + 2 * count;
  PutLE16(image + record::kUsaOffset, record::kHeaderSize);
  PutLE16(image + record::kUsaCount, static_cast<uint16_t>(count));
  PutLE16(image + record::kFirstAttribute, static_cast<uint16_t>(first));
  PutLE32(image + record::kBytesInUse, first + record::kEndMarkerSize);
  PutLE32(image + record::kBytesAllocated, recordSize);
  SetRecordBaseReference(image, 0);
  PutLE16(image + record::kHeaderSize, usn);
  PutLE32(image + first, record::kEndMarker);
}

}  // namespace vrax
