// The write-disabled check and the error text.
#include <cstdio>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "fileio/vrax_io.h"
#include "platform/error_text.h"

namespace vrax {

// Without a drive nothing is printed: the call that follows fails on the
// drive lookup, which says so itself.
bool VRAX_CanWrite() {
  const BlockDevice* drive = CurrentDrive();
  if (drive == nullptr) return false;
  if (drive->writable != 0) return true;
  std::fputs("Cannot write - disabled\n", stderr);
  return false;
}

// The system text ends with its own line break; numbers without one get
// the bare number.
int32_t VRAX_PrintError(int32_t error) {
  if (error == 0) return error;
  if (const char* text = SystemErrorText(error)) {
    std::fprintf(stderr, "ERROR #%d: %.255s", error, text);
  } else {
    std::fprintf(stderr, "ERROR #%d\n", error);
  }
  return error;
}

}  // namespace vrax
