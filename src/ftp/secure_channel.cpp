// The control and data channels, plain or in TLS.
//
// After AUTH TLS the control connection is a TLS stream on a non-blocking
// socket: the session polls the socket (or finds decrypted bytes waiting)
// and reads under the stream's lock, and a worker's final reply is written
// under the same lock, so the two never use the stream at once. Bytes the
// client sent in the clear after AUTH are dropped, never run as commands.
// Data connections under PROT P shake hands after the "150" reply, as
// clients start TLS only once they have read it; they are blocking sockets
// with the session's timeouts, used by one thread at a time.
#include "ftp/secure_channel.h"

#include <mutex>

#include "ftp/ftp_server.h"

namespace vrax::ftp {

bool CFtpServer::EnableTls(const std::string& pemFile, std::string* error) {
  std::unique_ptr<TlsServerContext> context = TlsServerContext::Load(pemFile, error);
  if (context == nullptr) return false;
  tls_ = std::move(context);
  return true;
}

bool CFtpServer::SendControl(FtpClient* client, const char* data, size_t size) {
  if (client->controlTls == nullptr) {
    return SocketSend(client->controlSocket.load(), data, size) >= 0;
  }
  std::lock_guard<std::mutex> hold(client->controlTlsLock);
  return client->controlTls->Send(data, size, idleSeconds_ * 1000) >= 0;
}

long CFtpServer::ReceiveControl(FtpClient* client, char* buffer, size_t size) {
  if (client->controlTls == nullptr) {
    return SocketReceive(client->controlSocket.load(), buffer, size);
  }
  std::lock_guard<std::mutex> hold(client->controlTlsLock);
  static_assert(TlsStream::kWouldBlock == LineReader::kNothingYet);
  return client->controlTls->Receive(buffer, size);
}

bool CFtpServer::ControlPending(FtpClient* client) {
  if (client->controlTls == nullptr) return false;
  std::lock_guard<std::mutex> hold(client->controlTlsLock);
  return client->controlTls->Pending();
}

// The reply goes out in the clear; then the handshake, bounded by the
// control connection's timeouts. A failed handshake ends the session: the
// connection is in no state to carry plain replies.
bool CFtpServer::StartTls(FtpClient* client) {
  AwaitTransferWorker(client);  // its final reply must not cross the handshake
  SendReply(client, "234 Begin TLS negotiation.\r\n");
  client->commands.DiscardBuffered();
  std::unique_ptr<TlsStream> stream = TlsStream::Accept(*tls_, client->controlSocket.load());
  if (stream == nullptr || !stream->SetNonBlocking()) return false;
  client->controlTls = std::move(stream);
  return true;
}

bool CFtpServer::ProtectDataConnection(FtpClient* client) {
  if (!client->protectData) return true;
  const SocketHandle s = client->dataSocket.load();
  SocketSetIoTimeout(s, dataConnectSeconds_);
  client->dataTls = s == kInvalidSocket ? nullptr : TlsStream::Accept(*tls_, s);
  SocketSetIoTimeout(s, idleSeconds_);
  if (client->dataTls != nullptr) return true;
  CloseSocket(&client->dataSocket);
  return false;
}

void CFtpServer::CloseDataConnection(FtpClient* client) {
  if (client->dataTls != nullptr) {
    if (client->dataSocket.load() != kInvalidSocket) client->dataTls->Close();
    client->dataTls.reset();
  }
  CloseSocket(&client->dataSocket);
}

bool SendData(const FtpClient* client, const void* data, size_t size) {
  const SocketHandle s = client->dataSocket.load();
  if (s == kInvalidSocket) return false;
  if (client->dataTls != nullptr) return client->dataTls->Send(data, size, 0) == static_cast<long>(size);
  const auto* bytes = static_cast<const char*>(data);
  for (size_t sent = 0; sent < size;) {
    const long n = SocketSend(s, bytes + sent, size - sent);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool SendDataOrShut(const FtpClient* client, const void* data, size_t size) {
  if (SendData(client, data, size)) return true;
  SocketShutdown(client->dataSocket.load());
  return false;
}

long ReceiveData(const FtpClient* client, void* buffer, size_t size) {
  const SocketHandle s = client->dataSocket.load();
  if (s == kInvalidSocket) return -1;
  if (client->dataTls != nullptr) return client->dataTls->Receive(buffer, size);
  return SocketReceive(s, buffer, size);
}

}  // namespace vrax::ftp
