// Start-up, serving and shutdown of vrax.
#pragma once

#include "app/options.h"

namespace vrax::app {

// Mounts the drive, configures and starts the FTP server, serves until a
// stop signal arrives, and shuts everything down. Returns kExitOk after a
// stop signal, else the exit code of the start-up step that failed
// (exit_codes.h), after a line that says why.
int RunServer(const Options& options);

}  // namespace vrax::app
