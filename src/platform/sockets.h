// The host's TCP sockets over IPv4 and IPv6, reduced to what the FTP server
// needs.
//
// Every call is a thin wrapper: blocking sockets unless switched, interrupted
// calls restarted. Sending never raises SIGPIPE, so a peer that disappears only
// makes the send fail. Addresses come back in their plain form: an IPv4
// peer that reached an IPv6 socket (an IPv4-mapped address) is reported as
// the IPv4 address it is, so an address compares equal however it arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vrax {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 or IPv6 address, without port.
struct NetAddress {
  bool ipv6 = false;
  uint8_t bytes[16] = {};  // IPv4: the first four, most significant first

  bool operator==(const NetAddress& other) const = default;
};

// The wildcard address ("0.0.0.0" or "::").
NetAddress AnyAddress(bool ipv6);
// An IPv4 address from its four bytes, most significant first.
NetAddress Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// Parses a literal ("192.0.2.1", "::1", "[::1]"); an IPv4-mapped IPv6
// literal gives the IPv4 address. False for anything else (host names).
bool ParseNetAddress(const std::string& text, NetAddress* address);
// "192.0.2.1" or "2001:db8::1".
std::string NetAddressText(const NetAddress& address);

enum class BindResult {
  kOk,
  kNoPrivilege,  // the port needs privileges this process lacks (EACCES)
  kUnavailable,  // the host has no such address or family (IPv6 switched off)
  kFailed,       // in use, ...
};

// Prepares the process for socket use (broken pipes become send errors).
// Returns 0, or the host's error number.
int SocketLibraryStart();
void SocketLibraryStop();

// A new TCP stream socket of the address family, or kInvalidSocket (also
// when the host has no IPv6).
SocketHandle SocketOpenTcp(bool ipv6);

// Lets a local address be bound again at once (TIME_WAIT, fast restart).
bool SocketSetReuseAddress(SocketHandle socket);
// Keeps urgent (out-of-band) bytes in the normal byte stream, where the
// command reader sees them, instead of taking them out of it.
bool SocketSetOobInline(SocketHandle socket);
// Sends small writes at once instead of holding them back until the peer
// acknowledges earlier ones (which it may delay by tens of milliseconds).
bool SocketSetNoDelay(SocketHandle socket);
// On an IPv6 socket: true accepts IPv6 only, false IPv4 (mapped) as well.
bool SocketSetIpv6Only(SocketHandle socket, bool only);

// Binds to `address`:`port` (port 0: the kernel chooses). The address must
// be of the socket's family.
BindResult SocketBind(SocketHandle socket, const NetAddress& address, uint16_t port);
bool SocketListen(SocketHandle socket, int backlog);
// Why SocketAccept returned no connection.
enum class AcceptFailure {
  kNone,
  kNothingWaiting,  // a non-blocking listener has no connection waiting
  kTransient,       // the process or the host ran out of descriptors or memory
  kFinal,           // the listener failed or was shut down
};
// Waits for a connection (a non-blocking listener does not wait). Returns
// the connected socket (blocking) and stores the peer's address, or
// kInvalidSocket and, when `failure` is given, why.
SocketHandle SocketAccept(SocketHandle listener, NetAddress* peerAddress,
                          AcceptFailure* failure = nullptr);

// Switches a socket between blocking and non-blocking calls.
bool SocketSetNonBlocking(SocketHandle socket, bool nonBlocking);
// A send or receive on the socket that makes no progress for `seconds`
// fails instead of waiting for ever (0: wait for ever).
bool SocketSetIoTimeout(SocketHandle socket, int seconds);

enum class ConnectStart { kConnected, kPending, kFailed };
// Starts a connection on a non-blocking socket; kPending means it completes
// later: wait until the socket is writable, then ask SocketConnectSucceeded.
ConnectStart SocketConnectStart(SocketHandle socket, const NetAddress& address, uint16_t port);
bool SocketConnectSucceeded(SocketHandle socket);

// What SocketWait saw.
struct SocketReadiness {
  bool ready = false;    // `socket` can be used (or has failed: the next call tells)
  bool watched = false;  // `watch` has input or was closed by its peer
  bool failed = false;   // the wait itself failed, or `socket` is no socket
};
// Waits until `socket` can be read (a listener: accepted) or, with
// `forWrite`, written (a connection in progress: completed), or until
// `watch` (when not kInvalidSocket) has something to read, at most
// `timeoutMilliseconds` (negative: no limit). Neither: timed out.
SocketReadiness SocketWait(SocketHandle socket, bool forWrite, SocketHandle watch,
                           int timeoutMilliseconds);
// The local address and port a socket is bound to.
bool SocketLocalAddress(SocketHandle socket, NetAddress* address, uint16_t* port);

// One send call; the number of bytes taken, or -1.
long SocketSend(SocketHandle socket, const void* data, size_t size);
// One receive call; bytes received, 0 when the peer closed, -1 on error.
long SocketReceive(SocketHandle socket, void* buffer, size_t size);

// Ends both directions so that every thread blocked on the socket wakes up,
// without giving the descriptor back to the host (no other socket can take
// its number while a thread may still be using it).
void SocketShutdown(SocketHandle socket);
// Shuts the socket down and releases the descriptor.
void SocketClose(SocketHandle socket);

}  // namespace vrax
