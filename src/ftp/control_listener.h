// The listening socket of the control port.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace vrax::ftp {

// A socket bound to `port` (not yet listening), or kInvalidSocket. With an
// address, on that address alone (an IPv6 one for IPv6 only). Without, on
// every IPv4 and IPv6 address through one dual-stack socket, or on every
// IPv4 address when the host has no IPv6. A port in use never falls back.
SocketHandle OpenControlSocket(const NetAddress* address, uint16_t port);

}  // namespace vrax::ftp
