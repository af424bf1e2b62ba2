// The client list: adding a client with its session thread, and removing
// clients. A client record is freed only after its session thread (which
// itself waits for its transfer worker) has ended. Threads are never waited
// for while the list lock is held: a session may need that lock to end.
#include <algorithm>
#include <memory>

#include "ftp/ftp_server.h"
#include "platform/threads.h"

namespace vrax::ftp {

FtpClient* CFtpServer::AddClient(SocketHandle socket, const NetAddress* peerAddress) {
  if (socket == kInvalidSocket || peerAddress == nullptr) return nullptr;
  auto owned = std::make_unique<FtpClient>();
  FtpClient* client = owned.get();
  client->server = this;
  client->controlSocket = socket;
  client->transferType = kTypeBinary;
  // Urgent bytes (ABOR sent with a Telnet "synch") stay in the command stream.
  SocketSetOobInline(socket);
  // Replies go out at once: a reply held back until the client acknowledged
  // the one before would stall every transfer by the client's ACK delay.
  SocketSetNoDelay(socket);
  SocketLocalAddress(socket, &client->localAddress, nullptr);
  client->peerAddress = *peerAddress;

  std::lock_guard<std::recursive_mutex> hold(listLock_);
  clients_.push_back(owned.release());  // freed by FinishRemoval
  ++numberOfClients_;
  // A session that cannot start is ended at once; the next sweep frees it.
  if (!StartThread(client->sessionThread, [this, client] { RunSession(client); })) {
    EndSession(client);
  }
  return client;
}

void CFtpServer::DetachClient(FtpClient* client) {
  clients_.remove(client);
  EndSession(client);
}

void CFtpServer::FinishRemoval(FtpClient* client) {
  const std::unique_ptr<FtpClient> owned(client);
  JoinThread(client->sessionThread);
  JoinThread(client->transferThread);  // only when the session never ran
  CloseRetiredSockets(client);
  CloseSocket(&client->controlSocket);
  CloseSocket(&client->dataSocket);
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  LeaveLogin(client);
  ReferAccount(client, nullptr);
  --numberOfClients_;
}

void CFtpServer::FinishRemovals(std::vector<FtpClient*>& clients) {
  for (FtpClient* client : clients) FinishRemoval(client);
  clients.clear();
}

bool CFtpServer::RemoveClient(FtpClient* client) {
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    if (client == nullptr ||
        std::find(clients_.begin(), clients_.end(), client) == clients_.end()) {
      return false;
    }
    DetachClient(client);
  }
  FinishRemoval(client);
  return true;
}

void CFtpServer::RemoveFinishedClients() {
  std::vector<FtpClient*> finished;
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      FtpClient* client = *it++;
      if (client->finished) {
        DetachClient(client);
        finished.push_back(client);
      }
    }
  }
  FinishRemovals(finished);
}

void CFtpServer::RemoveAllClients() {
  std::vector<FtpClient*> all;
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    while (!clients_.empty()) {
      FtpClient* client = clients_.front();
      DetachClient(client);
      all.push_back(client);
    }
  }
  FinishRemovals(all);
}

uint32_t CFtpServer::clientCount() {
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  return numberOfClients_;
}

uint32_t CFtpServer::userCount() {
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  return numberOfUsers_;
}

int32_t CFtpServer::CurrentClients(const FtpUser* user) {
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  return user != nullptr ? user->currentClients : 0;
}

}  // namespace vrax::ftp
