#include "platform/stop_signals.h"

#include <signal.h>

#include <cstring>
#include <initializer_list>

namespace vrax {

namespace {

// Written by the signal handler, read by the main thread: the only kind of
// object a handler may store into.
volatile sig_atomic_t g_stopFlag = 0;

extern "C" void OnStopSignal(int) { g_stopFlag = 1; }

}  // namespace

void InstallStopSignals() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // blocking calls of other threads go on
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool StopRequested() { return g_stopFlag != 0; }

void RequestStop() { g_stopFlag = 1; }

}  // namespace vrax
