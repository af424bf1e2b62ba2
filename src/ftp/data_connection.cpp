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

// A data connection's sends and receives that make no progress for the
// idle time fail, so a client that stops reading or sending cannot hold a
// transfer, its thread and its buffer for ever.
void CFtpServer::PrepareDataSocket(FtpClient* client) {
  SocketSetIoTimeout(client->dataSocket.load(), idleSeconds_);
}

// A connection from another address than the control connection's peer is
// closed, and the wait goes on: nobody else can take over a transfer. The
// listener is non-blocking, so a connection that vanished between the wait
// and the accept only means waiting again.
bool CFtpServer::AcceptPassive(FtpClient* client) {
  SocketHandle accepted = kInvalidSocket;
  while (AwaitDataSocket(client, false) == DataWait::kReady) {
    NetAddress peer;
    AcceptFailure failure;
    accepted = SocketAccept(client->dataSocket.load(), &peer, &failure);
    if (accepted != kInvalidSocket && peer == client->peerAddress) break;
    SocketClose(accepted);
    accepted = kInvalidSocket;
    if (failure == AcceptFailure::kFinal) break;
  }
  std::lock_guard<std::recursive_mutex> hold(socketLock_);
  const SocketHandle listener = client->dataSocket.exchange(kInvalidSocket);
  client->passivePort = 0;
  SocketClose(listener);
  if (listener == kInvalidSocket) {  // the session was ended meanwhile
    SocketClose(accepted);
    return false;
  }
  client->dataSocket = accepted;
  return accepted != kInvalidSocket;
}

// The connection goes to the control connection's peer, from the address
// the client reached the server at (both of one family). It is made without
// blocking, so that the wait can be bounded and cut short.
SocketHandle CFtpServer::ConnectActive(FtpClient* client) {
  CloseSocket(&client->dataSocket);
  const SocketHandle s = SocketOpenTcp(client->peerAddress.ipv6);
  if (s == kInvalidSocket || !StoreDataSocket(client, s, socketLock_)) return kInvalidSocket;
  uint16_t localPort = 0;
  if (!BindDataSocket(s, client->localAddress, firstDataPort_, dataPortCount_, &localPort) ||
      !SocketSetNonBlocking(s, true)) {
    return kInvalidSocket;
  }
  const ConnectStart start = SocketConnectStart(s, client->peerAddress, client->dataPort);
  const bool connected =
      start == ConnectStart::kConnected ||
      (start == ConnectStart::kPending && AwaitDataSocket(client, true) == DataWait::kReady &&
       SocketConnectSucceeded(s));
  return connected && SocketSetNonBlocking(s, false) ? s : kInvalidSocket;
}

void CFtpServer::DropDataSocket(FtpClient* client) {
  CloseSocket(&client->dataSocket);
  client->passivePort = 0;
}

bool CFtpServer::OpenDataConnection(FtpClient* client) {
  client->dataTls.reset();  // no worker runs: left from an earlier connection
  bool opened = false;
  if (client->dataMode == kDataPassive) opened = AcceptPassive(client);
  if (client->dataMode == kDataActive) opened = ConnectActive(client) != kInvalidSocket;
  if (!opened) {
    // A passive listener is used up; PORT's target may be tried again.
    DropDataSocket(client);
    if (client->dataMode == kDataPassive) client->dataMode = kDataNone;
    return false;
  }
  PrepareDataSocket(client);
  return true;
}

}  // namespace vrax::ftp
