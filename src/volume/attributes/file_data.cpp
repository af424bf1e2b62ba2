// The file operations of the file interface: data and descriptor of the
// opened file (the head of the Toolkit's file chain).
#include <cstring>
#include <ctime>

#include "blockdev/block_device.h"
#include "platform/error_codes.h"
#include "platform/host_time.h"
#include "volume/attributes/attributes.h"
#include "volume/format/descriptor.h"

namespace vrax {

int32_t FileRead(Toolkit* t, uint32_t offset, uint32_t count, void* buffer, uint32_t& done) {
  done = 0;
  if (IsDirectory(t)) return kErrAccessDenied;
  const int32_t refreshed = RefreshChain(t, t->fileChain);
  if (refreshed != kOk) return refreshed;
  return AttributeTransfer(t, AT_DATA, t->fileChain, buffer, count, offset, done, kTransferRead);
}

namespace {

// The descriptor after a change of the data, in memory: its size field
// and its date last modified (now, to the minute). The record is written
// with the data's new size in the same write; a write that changes neither
// leaves the record alone.
int32_t NoteChange(Toolkit* t) {
  uint8_t bytes[kDescriptorSize] = {};
  int32_t error = ReadDescriptor(t, bytes);
  if (error == kErrPathNotFound || error == kErrInvalidFunction) return kOk;  // none to keep
  if (error != kOk) return error;
  Descriptor d;
  DecodeDescriptor(bytes, d);
  uint32_t size = 0;
  error = AttributeSize(t, t->fileChain, AT_DATA, size);
  Stamp now;
  if (error == kOk) error = LocalStamp(now);
  if (error != kOk) return error;
  d.size = size;
  d.modified = now;
  uint8_t updated[kDescriptorSize] = {};
  EncodeDescriptor(d, updated);
  if (std::memcmp(updated, bytes, kDescriptorSize) == 0) return kOk;
  uint32_t done = 0;
  return AttributeTransfer(t, AT_OSK_FILEDES, t->fileChain, updated, kDescriptorSize, 0, done,
                           kTransferWrite);
}

}  // namespace

// The data reaches its clusters first; then the records, extension records
// before the base record that holds the value's size and the descriptor,
// so that a crash leaves the file as it was or as written (ChainOrder).
int32_t FileWrite(Toolkit* t, uint32_t offset, uint32_t count, const void* buffer,
                  uint32_t& done) {
  done = 0;
  if (IsDirectory(t)) return kErrAccessDenied;
  int32_t error = RefreshChain(t, t->fileChain);
  if (error != kOk) return error;
  // The transfer only reads from the buffer in write mode.
  error = AttributeTransfer(t, AT_DATA, t->fileChain, const_cast<void*>(buffer), count, offset,
                            done, kTransferWrite);
  if (error == kOk && done != 0) error = NoteChange(t);
  if (error == kOk && t->deferDurability) {
    t->uncommitted = true;
    return kOk;
  }
  if (error == kOk) error = CommitChain(t, t->fileChain, ChainOrder::kGrow);
  if (error != kOk) {
    // A failed write (a full disk, a device error) gives back the room it
    // took; the bytes the file held before are left as they were (with
    // deferred durability: as the last FileCommit left them).
    DiscardChanges(t, t->fileChain);
    t->uncommitted = false;
    done = 0;
  }
  return error;
}

// The relaxed writes (data, marks) reach stable storage first, then the
// records that name them, in the order of any write (ChainOrder::kGrow),
// each durable before the next.
int32_t FileCommit(Toolkit* t) {
  if (!t->uncommitted) return kOk;
  if (t->attachment.device == nullptr) return kErrAccessDenied;
  int32_t error = DeviceBarrier(*t->attachment.device);
  if (error == kOk) error = CommitChain(t, t->fileChain, ChainOrder::kGrow);
  if (error != kOk) DiscardChanges(t, t->fileChain);
  t->uncommitted = false;
  return error;
}

int32_t FileSize(Toolkit* t, uint32_t& size) {
  size = 0;
  if (IsDirectory(t)) return kErrAccessDenied;
  const int32_t refreshed = RefreshChain(t, t->fileChain);
  if (refreshed != kOk) return refreshed;
  return AttributeSize(t, t->fileChain, AT_DATA, size);
}

// Shrinking: the base record with the new size goes first, the runs leave
// the extension records after it, the clusters are given back last.
int32_t FileTruncate(Toolkit* t, uint32_t newSize) {
  int32_t error = RefreshChain(t, t->fileChain);
  if (error != kOk) return error;
  uint32_t oldSize = 0;
  error = AttributeSize(t, t->fileChain, AT_DATA, oldSize);
  if (error == kOk) error = SetAttributeSize(t, t->fileChain, AT_DATA, newSize);
  if (error == kOk && newSize != oldSize) error = NoteChange(t);
  if (error == kOk) {
    error = CommitChain(t, t->fileChain,
                        newSize < oldSize ? ChainOrder::kShrink : ChainOrder::kGrow);
  }
  if (error != kOk) DiscardChanges(t, t->fileChain);
  return error;
}

int32_t LocalStamp(Stamp& now) {
  std::tm local{};
  if (!LocalCalendar(NowSeconds(), &local)) return kErrInvalidFunction;
  now = Stamp{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min};
  return kOk;
}

int32_t ReadDescriptor(Toolkit* t, uint8_t* descriptor) {
  uint32_t done = 0;
  const int32_t error = AttributeTransfer(t, AT_OSK_FILEDES, t->fileChain, descriptor,
                                          kDescriptorSize, 0, done, kTransferRead);
  if (error != kOk) return error;
  if (done == kDescriptorSize) return kOk;
  return done == 0 ? kErrPathNotFound : kErrInvalidFunction;
}

int32_t ReadDescriptorAttributes(Toolkit* t, uint8_t& bits) {
  uint8_t descriptor[kDescriptorSize] = {};
  const int32_t error = ReadDescriptor(t, descriptor);
  bits = error == kOk ? descriptor[0] : 0;
  return error;
}

// Changes the descriptor in memory; the caller writes the record.
int32_t UpdateDescriptorSize(Toolkit* t, uint32_t size) {
  uint8_t descriptor[kDescriptorSize] = {};
  const int32_t error = ReadDescriptor(t, descriptor);
  if (error == kErrPathNotFound || error == kErrInvalidFunction) return kOk;
  if (error != kOk) return error;
  SetDescriptorSize(descriptor, size);
  uint32_t done = 0;
  return AttributeTransfer(t, AT_OSK_FILEDES, t->fileChain, descriptor, kDescriptorSize, 0, done,
                           kTransferWrite);
}

}  // namespace vrax
