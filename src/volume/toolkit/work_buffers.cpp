// The Toolkit's work buffers, allocated at first use and kept until the
// Toolkit is released.
#include <new>

#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

uint8_t* Sized(std::vector<uint8_t>& buffer, uint32_t size) {
  if (buffer.size() < size) {
    try {
      buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return buffer.data();
}

}  // namespace

uint8_t* ToolkitChunkBuffer(Toolkit* t) { return Sized(t->chunkBuffer, t->chunkSize); }
uint8_t* ToolkitSectorBuffer(Toolkit* t) { return Sized(t->sectorBuffer, t->bytesPerSector); }

}  // namespace vrax
