// PASV, PORT and the opening of data connections.
//
// Data ports come from the configured range. Where the host refuses a port
// of the range for lack of privilege (ports below 1024 for an ordinary
// user), the kernel chooses the port instead, so the server works without
// privileges. Data sockets reuse local addresses, so a port whose last
// connection is in TIME_WAIT can be bound again at once.
#include "fileio/vrax_io.h"
#include "ftp/data_ports.h"
#include "ftp/ftp_server.h"
#include "ftp/port_argument.h"

namespace vrax::ftp {

namespace {

constexpr const char* kLoopback = "127.0.0.1";

// Binds to a port of the range, tried up to `count` times, or to a port the
// kernel chooses when the range needs privileges. Stores the port bound.
bool BindDataSocket(SocketHandle s, uint32_t address, uint16_t first, int32_t count,
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

// Puts a freshly made socket into the client's data socket, unless the
// session was ended meanwhile (then the socket is closed and false returned).
bool StoreDataSocket(FtpClient* client, SocketHandle s, std::recursive_mutex& lock) {
  std::lock_guard<std::recursive_mutex> hold(lock);
  if (client->finished) {
    SocketClose(s);
    return false;
  }
  client->dataSocket = s;
  return true;
}

}  // namespace

bool CFtpServer::BindPassivePort(FtpClient* client, SocketHandle s) {
  for (int32_t attempt = 0; attempt < dataPortCount_; ++attempt) {
    if (!BindDataSocket(s, client->localAddress, firstDataPort_, dataPortCount_,
                        &client->dataPort)) {
      return false;
    }
    if (SocketListen(s, kPassiveBacklog)) return true;
    // Another socket took the port between bind and listen: start afresh.
    CloseSocket(&client->dataSocket);
    s = SocketOpenTcp();
    if (s == kInvalidSocket || !StoreDataSocket(client, s, socketLock_)) return false;
  }
  return false;
}

bool CFtpServer::EnterPassiveMode(FtpClient* client) {
  if (client->transferState != kIdle) {
    SendReply(client, "425 You're already connected.\r\n");
    return true;
  }
  AwaitTransferWorker(client);
  CloseSocket(&client->dataSocket);
  client->dataMode = kDataNone;
  const SocketHandle s = SocketOpenTcp();
  if (s == kInvalidSocket || !StoreDataSocket(client, s, socketLock_)) return true;
  if (!BindPassivePort(client, s)) {
    CloseSocket(&client->dataSocket);
    SendReply(client, "451 Internal error - No more data port available.\r\n");
    EndSession(client);
    return false;
  }
  const uint32_t a = Ipv4ToHostOrder(client->localAddress);
  SendFormattedReply(client, "227 Entering Passive Mode (%lu,%lu,%lu,%lu,%u,%u).\r\n",
                     static_cast<unsigned long>(a >> 24), static_cast<unsigned long>((a >> 16) & 255),
                     static_cast<unsigned long>((a >> 8) & 255), static_cast<unsigned long>(a & 255),
                     client->dataPort / 256u, client->dataPort % 256u);
  client->dataMode = kDataPassive;
  return true;
}

// The address given is only checked: the data connection always goes to
// the control connection's peer.
void CFtpServer::EnterActiveMode(FtpClient* client, const std::string* argument) {
  PortArgument port;
  if (client->transferState != kIdle || argument == nullptr ||
      !ParsePortArgument(*argument, port)) {
    SendReply(client, "501 Syntax error in arguments.\r\n");
    return;
  }
  AwaitTransferWorker(client);
  CloseSocket(&client->dataSocket);
  client->dataMode = kDataNone;
  if (Ipv4FromText(port.AddressText().c_str()) != client->peerAddress &&
      client->peerAddress != Ipv4FromText(kLoopback)) {
    SendReply(client, "501 PORT address does not match originator.\r\n");
    return;
  }
  client->dataMode = kDataActive;
  client->dataPort = port.Port();
  SendReply(client, "200 PORT command successful.\r\n");
}

// A connection from another address than the control connection's peer is
// closed, and the wait goes on: nobody else can take over a transfer.
bool CFtpServer::AcceptPassive(FtpClient* client) {
  SocketHandle accepted = kInvalidSocket;
  for (;;) {
    uint32_t peer = 0;
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

SocketHandle CFtpServer::ConnectActive(FtpClient* client) {
  CloseSocket(&client->dataSocket);
  const SocketHandle s = SocketOpenTcp();
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
