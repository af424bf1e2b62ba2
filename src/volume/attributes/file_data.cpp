// The file operations of the file interface: data and descriptor of the
// opened file (the head of the Toolkit's file chain).
#include "platform/error_codes.h"
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

// A write that failed half-way (a full disk, a device error) gives back the
// room it took: the value returns to its old size and the records on disk
// are brought in line with the clusters the bitmap now marks. The bytes the
// file held before the write are left as they were.
void RollBackWrite(Toolkit* t, uint32_t oldSize) {
  uint32_t size = 0;
  if (AttributeSize(t, t->fileChain, AT_DATA, size) == kOk && size > oldSize) {
    SetAttributeSize(t, t->fileChain, AT_DATA, oldSize);
  }
  for (RecordBuffer* b = t->fileChain.head; b != nullptr; b = b->next) {
    if (b->dirty) {
      WriteChain(t, t->fileChain);
      return;
    }
  }
}

}  // namespace

int32_t FileWrite(Toolkit* t, uint32_t offset, uint32_t count, const void* buffer,
                  uint32_t& done) {
  done = 0;
  if (IsDirectory(t)) return kErrAccessDenied;
  int32_t error = RefreshChain(t, t->fileChain);
  if (error != kOk) return error;
  uint32_t oldSize = 0;
  error = AttributeSize(t, t->fileChain, AT_DATA, oldSize);
  if (error != kOk) return error;
  // The transfer only reads from the buffer in write mode.
  error = AttributeTransfer(t, AT_DATA, t->fileChain, const_cast<void*>(buffer), count, offset,
                            done, kTransferWrite);
  if (error != kOk) {
    RollBackWrite(t, oldSize);
    done = 0;
    return error;
  }
  if (static_cast<uint64_t>(offset) + done > oldSize) {
    uint32_t newSize = 0;
    error = AttributeSize(t, t->fileChain, AT_DATA, newSize);
    if (error == kOk && newSize != oldSize) error = UpdateDescriptorSize(t, newSize);
  }
  return error;
}

int32_t FileSize(Toolkit* t, uint32_t& size) {
  size = 0;
  if (IsDirectory(t)) return kErrAccessDenied;
  const int32_t refreshed = RefreshChain(t, t->fileChain);
  if (refreshed != kOk) return refreshed;
  return AttributeSize(t, t->fileChain, AT_DATA, size);
}

int32_t FileTruncate(Toolkit* t, uint32_t newSize) {
  int32_t error = RefreshChain(t, t->fileChain);
  if (error != kOk) return error;
  error = SetAttributeSize(t, t->fileChain, AT_DATA, newSize);
  if (error != kOk) return error;
  return UpdateDescriptorSize(t, newSize);
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
