// Exit codes of vrax-mkfs. Scripts tell the kinds of failure apart by them,
// so each value keeps its meaning across releases.
#pragma once

namespace vrax::mkfs {

enum ExitCode : int {
  kExitOk = 0,        // the volume was written
  kExitUsage = 1,     // unknown option, missing argument or target
  kExitGeometry = 2,  // impossible geometry or a value that is not a size
  kExitRefused = 3,   // the target is of the wrong kind, in use or holds a volume
  kExitIo = 4,        // the host refused a read, write, resize or sync
};

}  // namespace vrax::mkfs
