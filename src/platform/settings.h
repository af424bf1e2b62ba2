// Process-wide switches set once by start-up before anything else runs.
#pragma once

namespace vrax {

extern int g_debug;        // -z: each occurrence adds one; traces and device open progress
extern int g_noBuffering;  // -b: open disks unbuffered
// 1 (the default): every write reaches stable storage before it returns.
// Only tests that throw their images away turn it off, for speed.
extern int g_writeThrough;
// 1 (the default): opening a disk prints its name and geometry. The
// companion tools turn it off: their own output is the report.
extern int g_reportDevice;

}  // namespace vrax
