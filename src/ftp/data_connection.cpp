// Opening data connections, in the mode PASV/EPSV or PORT/EPRT chose.
//
// Data ports come from the configured range. Where the host refuses a port
// of the range for lack of privilege (ports below 1024 for an ordinary
// user), the kernel chooses the port instead, so the server works without
// privileges. Data sockets reuse local addresses, so a port whose last
// connection is in TIME_WAIT can be bound again at once. Every data
// connection joins the control connection's two ends: passive ones are
// taken only from its peer, active ones only made to it.
#include "ftp/data_connection.h"

#include "ftp/data_ports.h"
#include "ftp/ftp_server.h"

namespace vrax::ftp {

bool BindDataSocket(SocketHandle s, const NetAddress& address, uint16_t first, int32_t count,
                    uint16_t* port) {
  SocketSetReuseAddress(s);
  for (int32_t attempt = 0; attempt < count; ++attempt) {
    *port = DrawDataPort(first, count);
    const BindResult result = SocketBind(s, address, *port);
    if (result == BindResult::kOk) return true;
    if (result == BindResult::kNoPrivilege) {
      return SocketBind(s, address, 0) == BindResult::kOk && SocketLocalAddress(s, nullptr, port);
    }
  }
  return false;
}

bool StoreDataSocket(FtpClient* client, SocketHandle s, std::recursive_mutex& lock) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  if (client->finished) {
    SocketClose(s);
    return false;
  }
  client->dataSocket = s;
  return true;
}

// A connection from another address than the control connection's peer is
// closed, and the wait goes on: nobody else can take over a transfer.
bool CFtpServer::AcceptPassive(FtpClient* client) {
  SocketHandle accepted = kInvalidSocket;
  for (;;) {
    NetAddress peer;
    accepted = SocketAccept(client->dataSocket.load(), &peer);
    if (accepted == kInvalidSocket || peer == client->peerAddress) break;
    SocketClose(accepted);
  }
  std::lock_guard<std::recursive_mutex> hold(socketLock_);
  const SocketHandle listener = client->dataSocket.exchange(kInvalidSocket);
  if (listener == kInvalidSocket) {  // the session was ended meanwhile
    SocketClose(accepted);
    return false;
  }
  SocketClose(listener);
  client->dataSocket = accepted;
  return accepted != kInvalidSocket;
}

// The connection goes to the control connection's peer, from the address
// the client reached the server at (both of one family).
SocketHandle CFtpServer::ConnectActive(FtpClient* client) {
  CloseSocket(&client->dataSocket);
  const SocketHandle s = SocketOpenTcp(client->peerAddress.ipv6);
  if (s == kInvalidSocket || !StoreDataSocket(client, s, socketLock_)) return kInvalidSocket;
  uint16_t localPort = 0;
  if (!BindDataSocket(s, client->localAddress, firstDataPort_, dataPortCount_, &localPort)) {
    return kInvalidSocket;
  }
  return SocketConnect(s, client->peerAddress, client->dataPort) ? s : kInvalidSocket;
}

bool CFtpServer::OpenDataConnection(FtpClient* client) {
  switch (client->dataMode) {
    case kDataPassive:
      return AcceptPassive(client);
    case kDataActive:
      return ConnectActive(client) != kInvalidSocket;
    default:
      return false;
  }
}

}  // namespace vrax::ftp
