// The attribute dump of a loaded record chain (a debugging aid).
#include <cstdio>

#include "volume/dump/dump.h"
#include "volume/dump/dump_lines.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"

namespace vrax {

namespace {

// End of the fields a non-resident line reads (the low half of the
// initialized size is the last of them).
constexpr uint32_t kNonResidentFieldsEnd = attr::kInitializedSize + 4;

void PrintResident(const uint8_t* a) {
  std::printf(" ATID=%u, DataLength=%u", static_cast<unsigned>(AttrIdentifier(a)),
              static_cast<unsigned>(AttrValueLength(a)));
  std::printf(" - RESIDENT");
}

void PrintNonResident(const uint8_t* a) {
  std::printf(" ATID=%u, Size/Alloc/Data=%u/%u/%u", static_cast<unsigned>(AttrIdentifier(a)),
              AttrAllocatedSize(a), AttrDataSize(a), AttrInitializedSize(a));
  std::printf(" - NON-RESIDENT ");
}

// One line per attribute, at most the record's attribute count of them. The
// shared attribute walk keeps every attribute inside the record (a length of
// 0 or one leaving the record ends the listing), and a non-resident line is
// printed only when its size fields lie inside the attribute.
void DumpOneRecord(const RecordBuffer& buffer, uint32_t recordSize) {
  const uint8_t* image = buffer.image;
  const int count = RecordAttributeCount(image);
  std::printf("=== [#%d] Attributes for MFT = $%x (%u) ====\n", count, buffer.recordNumber,
              buffer.recordNumber);
  AttributeWalk walk(buffer.image, recordSize);
  for (int i = 0; i < count; ++i) {
    const uint8_t* a = walk.Next();
    if (a == nullptr) break;
    const bool nonResident = AttrIsNonResident(a);
    if (nonResident && AttrLength(a) < kNonResidentFieldsEnd) break;
    std::printf(" %4.4d: ", i);
    std::printf(" %s: ", AttributeTypeName(AttrType(a)));
    if (nonResident) {
      PrintNonResident(a);
    } else {
      PrintResident(a);
    }
    std::printf("\n");
  }
  std::printf("%s", dump::kClosingLine);
}

}  // namespace

// Records whose buffer cannot hold a record header are skipped: there is
// nothing in them that could be shown without reading past the buffer.
void DumpRecordAttributes(const RecordChain& chain, uint32_t recordSize) {
  for (const RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    if (b->image == nullptr || recordSize < record::kHeaderSize) continue;
    DumpOneRecord(*b, recordSize);
  }
}

}  // namespace vrax
