// The listener reuses its address, so the program can be started again on
// the same port at once, while connections of the last run are in TIME_WAIT.
#include "ftp/control_listener.h"

namespace vrax::ftp {

namespace {

// Opens and binds one socket; `result` tells why it failed.
SocketHandle OpenBound(const NetAddress& address, bool ipv6Only, uint16_t port,
                       BindResult* result) {
  *result = BindResult::kUnavailable;
  const SocketHandle s = SocketOpenTcp(address.ipv6);
  if (s == kInvalidSocket) return kInvalidSocket;
  if (address.ipv6 && !SocketSetIpv6Only(s, ipv6Only)) {
    SocketClose(s);
    return kInvalidSocket;
  }
  SocketSetReuseAddress(s);
  *result = SocketBind(s, address, port);
  if (*result == BindResult::kOk) return s;
  SocketClose(s);
  return kInvalidSocket;
}

}  // namespace

SocketHandle OpenControlSocket(const NetAddress* address, uint16_t port) {
  BindResult result;
  if (address != nullptr) return OpenBound(*address, true, port, &result);
  const SocketHandle dual = OpenBound(AnyAddress(true), false, port, &result);
  if (dual != kInvalidSocket || result != BindResult::kUnavailable) return dual;
  return OpenBound(AnyAddress(false), false, port, &result);
}

}  // namespace vrax::ftp
