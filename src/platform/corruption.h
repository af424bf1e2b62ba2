// Where a malformed structure was detected.
//
// Callers see every malformed structure as error 114 (kErrBadStructure),
// whichever of the many checks found it. So that a report or a trace still
// tells which check fired, each detection goes through Corruption(), which
// keeps the check's source location beside the error (per thread, as the
// error itself travels up one thread's calls) and prints it in the debug
// trace (-z).
#pragma once

#include <cstdint>
#include <string>

namespace vrax {

// Notes the caller's location and returns kErrBadStructure. (The location
// comes from the compiler's builtins, which both compilers the project
// builds with evaluate at the call site.)
int32_t Corruption(const char* file = __builtin_FILE(), uint32_t line = __builtin_LINE());
// "volume/format/fixup.cpp:51" for the last detection on this thread, or ""
// when there was none since ClearCorruptionSite().
std::string LastCorruptionSite();
void ClearCorruptionSite();

}  // namespace vrax
