// The host's TCP/IPv4 sockets, reduced to what the FTP server needs.
//
// Every call is a thin wrapper: blocking sockets, addresses as 32-bit IPv4
// numbers in network byte order, interrupted calls restarted. Sending never
// raises SIGPIPE, so a peer that disappears only makes the send fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vrax {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

enum class BindResult {
  kOk,
  kNoPrivilege,  // the port needs privileges this process lacks (EACCES)
  kFailed,       // in use, bad address, ...
};

// Prepares the process for socket use (broken pipes become send errors).
// Returns 0, or the host's error number.
int SocketLibraryStart();
void SocketLibraryStop();

// A new TCP stream socket over IPv4, or kInvalidSocket.
SocketHandle SocketOpenTcp();

// Lets a local address be bound again at once (TIME_WAIT, fast restart).
bool SocketSetReuseAddress(SocketHandle socket);
// Keeps urgent (out-of-band) bytes in the normal byte stream, where the
// command reader sees them, instead of taking them out of it.
bool SocketSetOobInline(SocketHandle socket);

// Binds to `address`:`port` (port 0: the kernel chooses).
BindResult SocketBind(SocketHandle socket, uint32_t address, uint16_t port);
bool SocketListen(SocketHandle socket, int backlog);
// Waits for a connection. Returns the connected socket and stores the
// peer's address, or kInvalidSocket once the listening socket fails or is
// shut down. `transient`, when given, tells whether the failure may pass by
// itself (the process or the host ran out of descriptors or memory).
SocketHandle SocketAccept(SocketHandle listener, uint32_t* peerAddress, bool* transient = nullptr);
bool SocketConnect(SocketHandle socket, uint32_t address, uint16_t port);
// The local address and port a socket is bound to.
bool SocketLocalAddress(SocketHandle socket, uint32_t* address, uint16_t* port);

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

// The IPv4 address of dotted text ("127.0.0.1"), network byte order;
// all bits set when the text is not an address.
uint32_t Ipv4FromText(const char* text);
// Converts between host and network byte order for 32-bit addresses.
uint32_t Ipv4ToHostOrder(uint32_t networkOrder);

}  // namespace vrax
