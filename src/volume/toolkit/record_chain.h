// In-memory FILE record images: a base record and its extension records.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vrax {

// One record image with its number and dirty flag, linked to the next record
// of its chain.
struct RecordBuffer {
  uint32_t recordNumber = 0;
  uint32_t dirty = 0;
  uint32_t fresh = 0;  // 1 for a record made in memory that never reached the disk
  // The image as the disk holds it (memory form), when known: a change
  // confined to one sector is then written as that sector alone.
  std::vector<uint8_t> onDisk;
  std::vector<uint8_t> storage;
  uint8_t* image = nullptr;  // storage.data(), record size bytes
  RecordBuffer* next = nullptr;
};

// A singly linked list of RecordBuffers, the first for the base record, the
// others for its extension records in the order they were loaded. The chain
// owns its buffers and frees them when emptied or destroyed.
struct RecordChain {
  RecordBuffer* head = nullptr;

  RecordChain() = default;
  RecordChain(const RecordChain&) = delete;
  RecordChain& operator=(const RecordChain&) = delete;
  ~RecordChain();

  RecordBuffer* Last() const;
  uint32_t Size() const;
  RecordBuffer* Find(uint32_t recordNumber) const;
  // Unlinks `buffer` from the chain and frees it.
  void Remove(RecordBuffer* buffer);
};

// A zeroed buffer of `recordSize` bytes appended at the tail of `chain`;
// null when memory runs out.
RecordBuffer* AllocRecordBuffer(uint32_t recordSize, RecordChain& chain);

// Frees every buffer of the chain and empties it.
void FreeChain(RecordChain& chain);

}  // namespace vrax
