// Who may connect: the limits on control connections, and the ports that
// belong to the server itself.
//
// A connection beyond a limit is told so and closed on the accept thread:
// it never gets a session thread, so a flood of connections costs the
// server no more than the limit's worth of threads. Sessions that ended
// count no more (the accept thread frees them before it counts).
#include <cstring>

#include "ftp/ftp_server.h"

namespace vrax::ftp {

namespace {

constexpr const char* kReplyTooMany = "421 Too many connections\r\n";

}  // namespace

void CFtpServer::AdmitClient(SocketHandle socket, const NetAddress& peer) {
  bool admitted;
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    int32_t total = 0;
    int32_t fromPeer = 0;
    for (const FtpClient* client : clients_) {
      if (client->finished) continue;
      ++total;
      if (client->peerAddress == peer) ++fromPeer;
    }
    admitted = total < maxConnections_ && fromPeer < maxPerAddress_;
  }
  if (admitted) {
    AddClient(socket, &peer);
    return;
  }
  // A new connection's send buffer is empty: the reply never blocks.
  SocketSend(socket, kReplyTooMany, std::strlen(kReplyTooMany));
  SocketClose(socket);
}

bool CFtpServer::IsOwnListeningPort(uint16_t port) {
  if (port == controlPort_) return true;
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  for (const FtpClient* client : clients_) {
    if (client->passivePort.load() == port) return true;
  }
  return false;
}

}  // namespace vrax::ftp
