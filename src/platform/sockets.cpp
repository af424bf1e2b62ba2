#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vrax {

namespace {

// A socket address of either family, sized for both.
struct HostAddress {
  sockaddr_storage storage;
  socklen_t length = 0;

  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

HostAddress MakeAddress(const NetAddress& address, uint16_t port) {
  HostAddress h;
  std::memset(&h.storage, 0, sizeof h.storage);
  if (address.ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&h.storage);
    a->sin6_family = AF_INET6;
    std::memcpy(&a->sin6_addr, address.bytes, 16);
    a->sin6_port = htons(port);
    h.length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&h.storage);
    a->sin_family = AF_INET;
    std::memcpy(&a->sin_addr, address.bytes, 4);
    a->sin_port = htons(port);
    h.length = sizeof *a;
  }
  return h;
}

// The IPv6 prefix of an IPv4-mapped address, ::ffff:0:0/96.
constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// IPv6 bytes as an address; an IPv4-mapped one becomes its IPv4 address.
NetAddress FromIpv6Bytes(const uint8_t* bytes) {
  NetAddress address;
  if (std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0) {
    std::memcpy(address.bytes, bytes + 12, 4);
    return address;
  }
  address.ipv6 = true;
  std::memcpy(address.bytes, bytes, 16);
  return address;
}

void ReadAddress(const sockaddr_storage& storage, NetAddress* address, uint16_t* port) {
  if (storage.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
    if (address != nullptr) *address = FromIpv6Bytes(a->sin6_addr.s6_addr);
    if (port != nullptr) *port = ntohs(a->sin6_port);
    return;
  }
  const auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
  if (address != nullptr) {
    *address = NetAddress();
    std::memcpy(address->bytes, &a->sin_addr, 4);
  }
  if (port != nullptr) *port = ntohs(a->sin_port);
}

bool SetOption(SocketHandle socket, int level, int option, int value) {
  return setsockopt(socket, level, option, &value, sizeof value) == 0;
}

}  // namespace

NetAddress AnyAddress(bool ipv6) {
  NetAddress address;
  address.ipv6 = ipv6;
  return address;
}

NetAddress Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  NetAddress address;
  address.bytes[0] = a;
  address.bytes[1] = b;
  address.bytes[2] = c;
  address.bytes[3] = d;
  return address;
}

bool ParseNetAddress(const std::string& text, NetAddress* address) {
  std::string bare = text;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  uint8_t bytes[16];
  if (inet_pton(AF_INET, bare.c_str(), bytes) == 1) {
    *address = Ipv4Address(bytes[0], bytes[1], bytes[2], bytes[3]);
    return true;
  }
  if (inet_pton(AF_INET6, bare.c_str(), bytes) != 1) return false;
  *address = FromIpv6Bytes(bytes);
  return true;
}

std::string NetAddressText(const NetAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(address.ipv6 ? AF_INET6 : AF_INET, address.bytes, text, sizeof text);
  return text;
}

int SocketLibraryStart() {
  // A send to a peer that has gone must fail with EPIPE, not end the process.
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return sigaction(SIGPIPE, &ignore, nullptr) == 0 ? 0 : errno;
}

void SocketLibraryStop() {}

SocketHandle SocketOpenTcp(bool ipv6) {
  const int s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return s < 0 ? kInvalidSocket : s;
}

bool SocketSetReuseAddress(SocketHandle socket) {
  return SetOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
}

bool SocketSetOobInline(SocketHandle socket) {
  return SetOption(socket, SOL_SOCKET, SO_OOBINLINE, 1);
}

bool SocketSetNoDelay(SocketHandle socket) { return SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1); }

bool SocketSetIpv6Only(SocketHandle socket, bool only) {
  return SetOption(socket, IPPROTO_IPV6, IPV6_V6ONLY, only ? 1 : 0);
}

BindResult SocketBind(SocketHandle socket, const NetAddress& address, uint16_t port) {
  HostAddress a = MakeAddress(address, port);
  if (bind(socket, a.get(), a.length) == 0) return BindResult::kOk;
  if (errno == EACCES) return BindResult::kNoPrivilege;
  if (errno == EADDRNOTAVAIL || errno == EAFNOSUPPORT) return BindResult::kUnavailable;
  return BindResult::kFailed;
}

bool SocketListen(SocketHandle socket, int backlog) { return listen(socket, backlog) == 0; }

SocketHandle SocketAccept(SocketHandle listener, NetAddress* peerAddress, AcceptFailure* failure) {
  if (failure != nullptr) *failure = AcceptFailure::kNone;
  for (;;) {
    HostAddress peer;
    peer.length = sizeof peer.storage;
    const int s = accept4(listener, peer.get(), &peer.length, SOCK_CLOEXEC);
    if (s >= 0) {
      ReadAddress(peer.storage, peerAddress, nullptr);
      return s;
    }
    // A connection that was reset before it was taken is no reason to stop.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (failure != nullptr) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        *failure = AcceptFailure::kNothingWaiting;
      } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        *failure = AcceptFailure::kTransient;
      } else {
        *failure = AcceptFailure::kFinal;
      }
    }
    return kInvalidSocket;
  }
}

bool SocketSetNonBlocking(SocketHandle socket, bool nonBlocking) {
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0) return false;
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || fcntl(socket, F_SETFL, wanted) == 0;
}

bool SocketSetIoTimeout(SocketHandle socket, int seconds) {
  timeval limit{};
  limit.tv_sec = seconds > 0 ? seconds : 0;
  return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
         setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

ConnectStart SocketConnectStart(SocketHandle socket, const NetAddress& address, uint16_t port) {
  HostAddress a = MakeAddress(address, port);
  if (connect(socket, a.get(), a.length) == 0) return ConnectStart::kConnected;
  return errno == EINPROGRESS || errno == EINTR ? ConnectStart::kPending : ConnectStart::kFailed;
}

bool SocketConnectSucceeded(SocketHandle socket) {
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

SocketReadiness SocketWait(SocketHandle socket, bool forWrite, SocketHandle watch,
                           int timeoutMilliseconds) {
  SocketReadiness result;
  if (socket == kInvalidSocket) {  // closed by another thread: nothing to wait for
    result.failed = true;
    return result;
  }
  pollfd fds[2] = {};
  fds[0].fd = socket;
  fds[0].events = forWrite ? POLLOUT : POLLIN;
  fds[1].fd = watch;  // a negative descriptor is ignored
  fds[1].events = POLLIN;
  int n;
  while ((n = poll(fds, 2, timeoutMilliseconds)) < 0 && errno == EINTR) {
  }
  if (n < 0 || (fds[0].revents & POLLNVAL) != 0) {
    result.failed = true;
    return result;
  }
  result.ready = fds[0].revents != 0;
  result.watched = watch != kInvalidSocket && fds[1].revents != 0;
  return result;
}

bool SocketLocalAddress(SocketHandle socket, NetAddress* address, uint16_t* port) {
  HostAddress a;
  a.length = sizeof a.storage;
  if (getsockname(socket, a.get(), &a.length) != 0) return false;
  ReadAddress(a.storage, address, port);
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

}  // namespace vrax
