// Message texts of the system error numbers (error_codes.h), in the wording
// the error numbers have always carried, so a log reads the same whatever
// host produced it.
#pragma once

#include <cstdint>

namespace vrax {

// The text of error number `n`, ending with its own "\n"; null when the
// number has no text (callers then print "ERROR #%d\n").
const char* SystemErrorText(int32_t n);

}  // namespace vrax
