#include "fileio/last_error.h"

#include "fileio/vrax_io.h"

namespace vrax {

namespace {

// Per thread, like errno: one FTP session's failure never shows up as
// another's.
thread_local int32_t t_lastError = 0;

}  // namespace

int32_t NoteError(int32_t error) {
  t_lastError = error;
  return error;
}

int32_t VRAX_LastError() { return t_lastError; }

}  // namespace vrax
