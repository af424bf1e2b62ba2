#include "volume/toolkit/record_chain.h"

#include <new>

namespace vrax {

RecordChain::~RecordChain() { FreeChain(*this); }

RecordBuffer* RecordChain::Last() const {
  RecordBuffer* b = head;
  while (b != nullptr && b->next != nullptr) b = b->next;
  return b;
}

uint32_t RecordChain::Size() const {
  uint32_t n = 0;
  for (RecordBuffer* b = head; b != nullptr; b = b->next) ++n;
  return n;
}

RecordBuffer* RecordChain::Find(uint32_t recordNumber) const {
  for (RecordBuffer* b = head; b != nullptr; b = b->next) {
    if (b->recordNumber == recordNumber) return b;
  }
  return nullptr;
}

void RecordChain::Remove(RecordBuffer* buffer) {
  RecordBuffer** link = &head;
  while (*link != nullptr && *link != buffer) link = &(*link)->next;
  if (*link == nullptr) return;
  *link = buffer->next;
  delete buffer;
}

RecordBuffer* AllocRecordBuffer(uint32_t recordSize, RecordChain& chain) {
  RecordBuffer* b = new (std::nothrow) RecordBuffer;
  if (b == nullptr) return nullptr;
  try {
    b->storage.assign(recordSize, 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  b->image = b->storage.data();
  if (RecordBuffer* last = chain.Last()) {
    last->next = b;
  } else {
    chain.head = b;
  }
  return b;
}

void FreeChain(RecordChain& chain) {
  RecordBuffer* b = chain.head;
  chain.head = nullptr;
  while (b != nullptr) {
    RecordBuffer* next = b->next;
    delete b;
    b = next;
  }
}

}  // namespace vrax
