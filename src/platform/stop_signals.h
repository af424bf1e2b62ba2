// The stop request of the console program: interrupt (SIGINT), termination
// (SIGTERM) and hang-up (SIGHUP) set one flag that the main thread polls.
#pragma once

namespace vrax {

// Routes the three signals to the stop flag from now on. Before this call
// the host's default handling applies (the process ends at once).
void InstallStopSignals();

bool StopRequested();
// Sets the flag as a signal would (for callers other than signals).
void RequestStop();

}  // namespace vrax
