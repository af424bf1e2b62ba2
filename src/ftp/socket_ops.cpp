// Closing sockets, ending sessions and sending replies.
//
// A handle is marked invalid before its socket is closed, under the socket
// lock, so two threads never close one socket twice. A socket that another
// thread may be blocked on or about to use is only shut down (which wakes
// that thread and tells the peer) and its descriptor is kept until no
// thread can use it: the host could otherwise give the same number to a new
// socket, and a late send would reach the wrong connection.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ftp/ftp_server.h"

namespace vrax::ftp {

void CFtpServer::CloseSocket(std::atomic<SocketHandle>* socket) {
  std::lock_guard<std::recursive_mutex> hold(socketLock_);
  const SocketHandle old = socket->exchange(kInvalidSocket);
  if (old != kInvalidSocket) SocketClose(old);
}

void CFtpServer::RetireSocket(FtpClient* client, std::atomic<SocketHandle>* socket) {
  std::lock_guard<std::recursive_mutex> hold(socketLock_);
  const SocketHandle old = socket->exchange(kInvalidSocket);
  if (old == kInvalidSocket) return;
  SocketShutdown(old);
  client->retiredSockets.push_back(old);
}

void CFtpServer::CloseRetiredSockets(FtpClient* client) {
  std::lock_guard<std::recursive_mutex> hold(socketLock_);
  for (SocketHandle s : client->retiredSockets) SocketClose(s);
  client->retiredSockets.clear();
}

// May run on any thread: the session's own, or one that removes the client
// while its session and transfer threads are blocked on these sockets. The
// client is marked finished before its peer can see the connection end, so
// a connection made after that always finds it ready to be swept away.
void CFtpServer::EndSession(FtpClient* client) {
  std::lock_guard<std::recursive_mutex> hold(socketLock_);
  client->finished = 1;
  RetireSocket(client, &client->controlSocket);
  RetireSocket(client, &client->dataSocket);
}

bool CFtpServer::SendReply(FtpClient* client, const char* text) {
  if (text == nullptr) return false;
  return SendControl(client, text, std::strlen(text));
}

bool CFtpServer::SendFormattedReply(FtpClient* client, const char* format, ...) {
  if (client == nullptr || client->server != this || format == nullptr ||
      client->controlSocket.load() == kInvalidSocket) {
    return false;
  }
  std::vector<char> buffer(kReplyBufferSize);
  va_list values;
  va_start(values, format);
  std::vsnprintf(buffer.data(), buffer.size(), format, values);
  va_end(values);
  return SendReply(client, buffer.data());
}

}  // namespace vrax::ftp
