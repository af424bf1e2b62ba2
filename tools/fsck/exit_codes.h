// Exit codes of vrax-fsck, in the convention of file-system checkers.
// Scripts act on them, so each keeps its meaning.
#pragma once

namespace vrax::fsck {

enum ExitCode : int {
  kExitClean = 0,         // the volume was checked and nothing was found
  kExitRepaired = 1,      // problems were found and repaired: the volume is now clean
  kExitUnreadable = 2,    // no volume could be read: the image cannot be opened, the
                          // boot sector is bad or MFT record 0 is unusable; also a
                          // command line that names no image
  kExitProblemsLeft = 4,  // findings remain: without --repair, anything found
  kExitInUse = 8,         // --repair refused: another program has the volume open
};

}  // namespace vrax::fsck
