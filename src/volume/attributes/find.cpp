// Finding attribute instances across a base record and its extensions.
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/toolkit/volume_errors.h"

namespace vrax {

uint8_t* FindAttributeInRecord(Toolkit* t, uint8_t* image, uint32_t type) {
  return FindAttributeInRecord(image, t->recordSize, type);
}

uint8_t* FindAttribute(Toolkit* t, RecordChain& chain, uint32_t type, RecordBuffer** holder) {
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    if (uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type)) {
      if (holder != nullptr) *holder = b;
      return a;
    }
  }
  if (holder != nullptr) *holder = nullptr;
  return nullptr;
}

uint8_t* FindLastAttribute(Toolkit* t, RecordChain& chain, uint32_t type, RecordBuffer** holder) {
  uint8_t* found = nullptr;
  RecordBuffer* foundIn = nullptr;
  for (RecordBuffer* b = chain.head; b != nullptr; b = b->next) {
    if (uint8_t* a = FindAttributeInRecord(b->image, t->recordSize, type)) {
      found = a;
      foundIn = b;
    }
  }
  if (holder != nullptr) *holder = foundIn;
  return found;
}

int32_t AttributeSize(Toolkit* t, RecordChain& chain, uint32_t type, uint32_t& size) {
  size = 0;
  const uint8_t* a = FindAttribute(t, chain, type);
  if (a == nullptr) return kErrSizeMissing;
  size = AttrIsNonResident(a) ? AttrInitializedSize(a) : AttrValueLength(a);
  return kOk;
}

}  // namespace vrax
