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

// The descriptor's size field, in memory: the record is written with the
// data's new size in the same write.
int32_t NoteSize(Toolkit* t, uint32_t oldSize) {
  uint32_t newSize = 0;
  const int32_t error = AttributeSize(t, t->fileChain, AT_DATA, newSize);
  if (error != kOk || newSize == oldSize) return error;
  return UpdateDescriptorSize(t, newSize);
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
  uint32_t oldSize = 0;
  error = AttributeSize(t, t->fileChain, AT_DATA, oldSize);
  if (error != kOk) return error;
  // The transfer only reads from the buffer in write mode.
  error = AttributeTransfer(t, AT_DATA, t->fileChain, const_cast<void*>(buffer), count, offset,
                            done, kTransferWrite);
  if (error == kOk && static_cast<uint64_t>(offset) + done > oldSize) error = NoteSize(t, oldSize);
  if (error == kOk) error = CommitChain(t, t->fileChain, ChainOrder::kGrow);
  if (error != kOk) {
    // A failed write (a full disk, a device error) gives back the room it
    // took; the bytes the file held before are left as they were.
    DiscardChanges(t, t->fileChain);
    done = 0;
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

// Shrinking: the base record with the new size goes first, the runs leave
// the extension records after it, the clusters are given back last.
int32_t FileTruncate(Toolkit* t, uint32_t newSize) {
  int32_t error = RefreshChain(t, t->fileChain);
  if (error != kOk) return error;
  uint32_t oldSize = 0;
  error = AttributeSize(t, t->fileChain, AT_DATA, oldSize);
  if (error == kOk) error = SetAttributeSize(t, t->fileChain, AT_DATA, newSize);
  if (error == kOk) error = UpdateDescriptorSize(t, newSize);
  if (error == kOk) {
    error = CommitChain(t, t->fileChain,
                        newSize < oldSize ? ChainOrder::kShrink : ChainOrder::kGrow);
  }
  if (error != kOk) DiscardChanges(t, t->fileChain);
  return error;
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
