// The calling thread's last error number, kept for callers that need more
// than the 0 / -1 / null results of the standard-shaped calls.
#pragma once

#include <cstdint>

namespace vrax {

// Records `error` as the calling thread's last error and returns it.
int32_t NoteError(int32_t error);

}  // namespace vrax
