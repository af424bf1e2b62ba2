// Reading, writing, positioning and closing an open file.
//
// Positions are 64-bit, the volume's offsets 32-bit. Nothing at or beyond
// 4 GiB is addressable, so a position there is never cut down to its low
// 32 bits: a read there finds nothing and a write there fails, instead of
// landing near the start of the file.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "fileio/interface_lock.h"
#include "fileio/last_error.h"
#include "fileio/trace.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

constexpr uint64_t kAddressable = uint64_t{1} << 32;  // first byte the volume cannot address

// Whether `file` may move data in the direction `bit`; prints why not.
bool Usable(const VRAX_FILE* file, uint32_t bit) {
  if (file == nullptr || file->toolkit == nullptr) {
    std::fputs("File not open\n", stderr);
    NoteError(kErrInvalidHandle);
    return false;
  }
  if ((file->access & bit) == 0) {
    std::fputs(bit == kAccessRead ? "File not opened for read\n" : "File not opened for write\n",
               stderr);
    NoteError(kErrAccessDenied);
    return false;
  }
  return true;
}

// size x count, or false when the product does not fit.
bool ByteCount(size_t size, size_t count, uint64_t& total) {
  return !__builtin_mul_overflow(size, count, &total);
}

size_t Failed(int32_t error) {
  NoteError(error);
  return 0;
}

// The bytes a read at `position` may ask for: no more than one volume call
// takes, and none past 4 GiB.
uint32_t ReadableCount(uint64_t position, uint64_t total) {
  return static_cast<uint32_t>(std::min<uint64_t>(
      {total, kAddressable - position, std::numeric_limits<uint32_t>::max()}));
}

}  // namespace

size_t VRAX_fread(void* buffer, size_t size, size_t count, VRAX_FILE* file) {
  if (!Usable(file, kAccessRead)) return 0;
  uint64_t total = 0;
  if (!ByteCount(size, count, total)) return Failed(kErrInvalidParameter);
  const InterfaceCall call(file);
  if (total == 0 || file->position >= kAddressable) return 0;
  uint32_t done = 0;
  const int32_t error = FileRead(file->toolkit, static_cast<uint32_t>(file->position),
                                 ReadableCount(file->position, total), buffer, done);
  if (error != kOk) return Failed(error);
  file->position += done;
  return done;
}

// The whole write must fit below the largest size a file can have; one
// that does not is refused before the volume is touched (223), so a write
// is never shortened or wrapped.
size_t VRAX_fwrite(const void* buffer, size_t size, size_t count, VRAX_FILE* file) {
  Trace("-> VRAX_fwrite(0x%08" PRIXPTR ",%zu,%zu,0x%08" PRIXPTR ")\n", Address(buffer), size,
        count, Address(file));
  if (!Usable(file, kAccessWrite)) return 0;
  uint64_t total = 0;
  if (!ByteCount(size, count, total)) return Failed(kErrInvalidParameter);
  const InterfaceCall call(file);
  if (file->deferredError != 0) return Failed(file->deferredError);
  if (total == 0) return 0;
  const uint64_t limit = MaxValueSize(file->toolkit);
  if (file->position > limit || total > limit - file->position) return Failed(kErrFileTooLarge);
  uint32_t done = 0;
  const int32_t error = FileWrite(file->toolkit, static_cast<uint32_t>(file->position),
                                  static_cast<uint32_t>(total), buffer, done);
  if (error != kOk) return Failed(error);
  file->position += done;
  return done;
}

// Takes no lock: the position belongs to the handle, and the handle to the
// one thread that uses it.
int VRAX_fseeko64(VRAX_FILE* file, int64_t offset, int origin) {
  Trace("-> VRAX_fseeko64(0x%08" PRIXPTR ",%" PRIX64 ",%d)\n", Address(file),
        static_cast<uint64_t>(offset), origin);
  if (file == nullptr || offset < 0 || origin != SEEK_SET) {
    NoteError(kErrInvalidParameter);
    return -1;
  }
  file->position = static_cast<uint64_t>(offset);
  return 0;
}

// Nothing is buffered in a handle; one with deferred durability has its
// writes made durable before it goes, and says whether that worked.
int VRAX_fclose(VRAX_FILE* file) {
  Trace("-> VRAX_fclose(0x%08" PRIXPTR ")\n", Address(file));
  const InterfaceCall call(file);
  if (file == nullptr) return 0;
  int32_t error = file->deferredError;
  if (file->toolkit != nullptr) {
    const int32_t committed = FileCommit(file->toolkit);
    if (error == kOk) error = committed;
  }
  ForgetDeferredHandle(file);
  ToolkitClose(file->toolkit);
  delete file;
  if (error == kOk) return 0;
  NoteError(error);
  return -1;
}

}  // namespace vrax
