// Start-up, serving and shutdown of vrax.
#pragma once

#include "app/options.h"

namespace vrax::app {

// Mounts the drive, configures and starts the FTP server, serves until a
// stop signal arrives, and shuts everything down. Returns 0 on every path,
// the failure paths included.
int RunServer(const Options& options);

}  // namespace vrax::app
