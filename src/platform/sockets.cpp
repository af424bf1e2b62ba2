#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

SocketHandle SocketAccept(SocketHandle listener, NetAddress* peerAddress, bool* transient) {
  if (transient != nullptr) *transient = false;
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
    if (transient != nullptr) {
      *transient = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
    }
    return kInvalidSocket;
  }
}

bool SocketConnect(SocketHandle socket, const NetAddress& address, uint16_t port) {
  HostAddress a = MakeAddress(address, port);
  return connect(socket, a.get(), a.length) == 0;
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
