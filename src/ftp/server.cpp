// Construction, configuration, listening and the accept thread.
#include <climits>
#include <cstdio>

#include "ftp/control_listener.h"
#include "ftp/ftp_server.h"
#include "platform/host_time.h"
#include "platform/threads.h"

namespace vrax::ftp {

namespace {

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

CFtpServer::CFtpServer() {
  if (const int error = SocketLibraryStart(); error != 0) {
    std::printf("WinSock Startup failure: Error=%d\r\n", error);
  }
  SeedRandom(static_cast<uint32_t>(NowSeconds()));
}

CFtpServer::~CFtpServer() {
  if (listening_) StopListening();
  RemoveAllClients();
  DeleteAllUsers();
  SocketLibraryStop();
}

const char* CFtpServer::MonthName(int month) {
  return month >= 0 && month < 12 ? kMonthNames[month] : "???";
}

const char* CFtpServer::ContactAddress() { return "tarnview@localhost"; }

bool CFtpServer::SetPort(uint16_t port) {
  if (listening_ || port == 0) return false;
  controlPort_ = port;
  return true;
}

bool CFtpServer::SetDataPortRange(uint16_t firstPort, int32_t count) {
  if (count < 1 || firstPort == 0 || static_cast<int64_t>(firstPort) + count > 65535) return false;
  firstDataPort_ = firstPort;
  dataPortCount_ = count;
  return true;
}

// A text that is no address is kept as such: listening then fails, rather
// than falling back to every address when the operator asked for one.
bool CFtpServer::SetListenAddress(const char* address) {
  if (listening_ || address == nullptr) return false;
  NetAddress parsed;
  listenAddressValid_ = ParseNetAddress(address, &parsed);
  listenAddress_ = parsed;
  return listenAddressValid_;
}

// Timeouts are waited for in milliseconds: the longest must fit an int.
bool CFtpServer::SetIdleTimeout(int seconds) {
  if (seconds < 1 || seconds > INT_MAX / 1000) return false;
  idleSeconds_ = seconds;
  return true;
}

bool CFtpServer::SetDataConnectTimeout(int seconds) {
  if (seconds < 1 || seconds > INT_MAX / 1000) return false;
  dataConnectSeconds_ = seconds;
  return true;
}

bool CFtpServer::SetConnectionLimits(int32_t total, int32_t perAddress) {
  if (total < 1 || perAddress < 1) return false;
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  maxConnections_ = total;
  maxPerAddress_ = perAddress;
  return true;
}

void CFtpServer::SetLoginFailurePause(int milliseconds) {
  loginFailurePauseMilliseconds_ = milliseconds > 0 ? milliseconds : 0;
}

bool CFtpServer::StartListening() {
  if (listening_) return true;
  if (!listenAddressValid_) return false;
  const SocketHandle s = OpenControlSocket(listenAddress_ ? &*listenAddress_ : nullptr, controlPort_);
  listenSocket_ = s;
  const bool ok = s != kInvalidSocket && SocketListen(s, kControlBacklog);
  if (!ok) CloseSocket(&listenSocket_);
  listening_ = ok;
  return ok;
}

// The accept thread may be blocked on the listener: it is shut down first,
// which wakes the thread, and its descriptor is released only after the
// thread has ended.
bool CFtpServer::StopListening() {
  if (listening_) {
    const SocketHandle s = listenSocket_.exchange(kInvalidSocket);
    SocketShutdown(s);
    JoinThread(acceptThread_);
    SocketClose(s);
  }
  listening_ = false;
  return true;
}

bool CFtpServer::StartAccepting() {
  if (!accepting_ && listening_) {
    accepting_ = StartThread(acceptThread_, [this] { AcceptLoop(); });
  }
  return accepting_;
}

// Ends when the listening socket is closed. Running out of descriptors or
// memory only pauses accepting: the server must not stop serving for good
// because a burst of connections used up the process's descriptors. Ended
// sessions are freed at least every kSweepMilliseconds, so that their
// threads never pile up while nobody connects.
void CFtpServer::AcceptLoop() {
  SocketSetNonBlocking(listenSocket_.load(), true);
  for (;;) {
    const SocketHandle listener = listenSocket_.load();
    if (listener == kInvalidSocket) return;
    const SocketReadiness readiness = SocketWait(listener, false, kInvalidSocket, kSweepMilliseconds);
    RemoveFinishedClients();
    if (readiness.failed) return;
    if (!readiness.ready) continue;
    NetAddress peer;
    AcceptFailure failure;
    const SocketHandle s = SocketAccept(listener, &peer, &failure);
    if (s != kInvalidSocket) {
      AdmitClient(s, peer);
    } else if (failure == AcceptFailure::kFinal) {
      return;
    } else if (failure == AcceptFailure::kTransient) {
      SleepMilliseconds(kAcceptRetryMilliseconds);
    }
  }
}

}  // namespace vrax::ftp
