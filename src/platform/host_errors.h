// Translation of host errno values into the system error numbers that the
// rest of the system speaks (error_codes.h). Every host call of the platform
// layer reports its failures through here, so callers above it never see an
// errno value.
#pragma once

#include <cstdint>

namespace vrax {

// The system error number for `err`. A host failure without a reason
// (err == 0) gives -1; an errno without a closer match gives 1117 (I/O
// device error), so a failure is never reported as success.
int32_t ErrorFromErrno(int err);

// ErrorFromErrno(errno): the result of the host call that just failed.
int32_t LastHostError();

}  // namespace vrax
