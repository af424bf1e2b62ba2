// The exit codes of vrax. Each start-up failure has its own code, so a
// script that starts the program can tell what went wrong without reading
// its output.
#pragma once

namespace vrax::app {

enum ExitCode : int {
  kExitOk = 0,        // stopped by a signal after serving, or --help
  kExitUsage = 1,     // the command line is invalid; the usage text was printed
  kExitMount = 2,     // the disk or its volume cannot be opened or mounted
  kExitAccount = 3,   // the named account cannot be made
  kExitListen = 4,    // the control port cannot be bound or listened on
  kExitAccept = 5,    // the thread that accepts connections cannot start
  kExitTls = 6,       // the TLS certificate or key (-k) cannot be used
};

}  // namespace vrax::app
