// The debug trace and the shapes in which the interface prints its
// arguments.
#pragma once

#include <cinttypes>
#include <cstdint>

namespace vrax {

// Prints one trace line on standard output when the debug switch is on;
// nothing otherwise. The format is the call's fixed trace text.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// An address as the traces print it (the whole address, at least 8 digits).
inline uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// A text argument that may be null, printable with %s.
inline const char* Shown(const char* text) { return text != nullptr ? text : "(null)"; }

}  // namespace vrax
