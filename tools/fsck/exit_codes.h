// Exit codes of vrax-fsck. Scripts act on them, so each keeps its meaning.
#pragma once

namespace vrax::fsck {

enum ExitCode : int {
  kExitClean = 0,       // the volume was checked and no problem was found
  kExitProblems = 1,    // the volume was checked and problems were reported
  kExitUnreadable = 2,  // no volume could be read: the image cannot be opened, the
                        // boot sector is bad or MFT record 0 is unusable; also a
                        // command line that names no image
};

}  // namespace vrax::fsck
