#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vrax {

namespace {

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(port);
  return a;
}

bool SetFlag(SocketHandle socket, int level, int option) {
  const int on = 1;
  return setsockopt(socket, level, option, &on, sizeof on) == 0;
}

}  // namespace

int SocketLibraryStart() {
  // A send to a peer that has gone must fail with EPIPE, not end the process.
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return sigaction(SIGPIPE, &ignore, nullptr) == 0 ? 0 : errno;
}

void SocketLibraryStop() {}

SocketHandle SocketOpenTcp() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return s < 0 ? kInvalidSocket : s;
}

bool SocketSetReuseAddress(SocketHandle socket) { return SetFlag(socket, SOL_SOCKET, SO_REUSEADDR); }

bool SocketSetOobInline(SocketHandle socket) { return SetFlag(socket, SOL_SOCKET, SO_OOBINLINE); }

BindResult SocketBind(SocketHandle socket, uint32_t address, uint16_t port) {
  const sockaddr_in a = MakeAddress(address, port);
  if (bind(socket, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return BindResult::kOk;
  return errno == EACCES ? BindResult::kNoPrivilege : BindResult::kFailed;
}

bool SocketListen(SocketHandle socket, int backlog) { return listen(socket, backlog) == 0; }

SocketHandle SocketAccept(SocketHandle listener, uint32_t* peerAddress, bool* transient) {
  if (transient != nullptr) *transient = false;
  for (;;) {
    sockaddr_in peer;
    socklen_t length = sizeof peer;
    const int s = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (s >= 0) {
      if (peerAddress != nullptr) *peerAddress = peer.sin_addr.s_addr;
      return s;
    }
    // A connection that was reset before it was taken is no reason to stop.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (transient != nullptr) {
      *transient = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
    }
    return kInvalidSocket;
  }
}

bool SocketConnect(SocketHandle socket, uint32_t address, uint16_t port) {
  const sockaddr_in a = MakeAddress(address, port);
  if (connect(socket, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
  return false;
}

bool SocketLocalAddress(SocketHandle socket, uint32_t* address, uint16_t* port) {
  sockaddr_in a;
  socklen_t length = sizeof a;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&a), &length) != 0) return false;
  if (address != nullptr) *address = a.sin_addr.s_addr;
  if (port != nullptr) *port = ntohs(a.sin_port);
  return true;
}

long SocketSend(SocketHandle socket, const void* data, size_t size) {
  for (;;) {
    const ssize_t n = send(socket, data, size, MSG_NOSIGNAL);
    if (n >= 0 || errno != EINTR) return n < 0 ? -1 : static_cast<long>(n);
  }
}

long SocketReceive(SocketHandle socket, void* buffer, size_t size) {
  for (;;) {
    const ssize_t n = recv(socket, buffer, size, 0);
    if (n >= 0 || errno != EINTR) return n < 0 ? -1 : static_cast<long>(n);
  }
}

void SocketShutdown(SocketHandle socket) {
  if (socket != kInvalidSocket) shutdown(socket, SHUT_RDWR);
}

void SocketClose(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  shutdown(socket, SHUT_RDWR);
  close(socket);
}

uint32_t Ipv4FromText(const char* text) {
  in_addr a;
  if (text == nullptr || inet_pton(AF_INET, text, &a) != 1) return 0xffffffffu;
  return a.s_addr;
}

uint32_t Ipv4ToHostOrder(uint32_t networkOrder) { return ntohl(networkOrder); }

}  // namespace vrax
