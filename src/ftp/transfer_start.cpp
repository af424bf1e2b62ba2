// Starting, aborting and awaiting transfers.
//
// A transfer runs on a worker thread of its own while the session reads
// further commands. The worker gets everything it needs at its start (its
// TransferJob), and only the session thread starts and waits for workers,
// so a worker that was aborted and is still finishing never shares anything
// with the next transfer: that transfer waits for it first.
#include <cstdio>
#include <cstring>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "ftp/refusals.h"
#include "ftp/replies.h"
#include "platform/host_time.h"
#include "platform/threads.h"

namespace vrax::ftp {

namespace {

bool StatRecord(const std::string& path, struct stat& record) {
  return VRAX_stat64(path.c_str(), &record) == 0;
}

// STOU: a name "file.N" that names nothing yet; none when no path can be
// built or no free name turns up.
std::optional<std::string> UniquePath(const FtpClient* client) {
  for (int attempt = 0; attempt < kMaxUniqueNameTries; ++attempt) {
    std::string name = "file." + std::to_string(NextRandom());
    std::optional<std::string> path = CFtpServer::BuildPath(
        client->account->startPath.c_str(), client->currentDirectory.c_str(), &name);
    struct stat record;
    if (!path || !StatRecord(*path, record)) return path;
  }
  return std::nullopt;
}

// Gives up an upload before its worker starts: the data connection is
// closed and the transfer state freed for the next command.
void RefuseUpload(CFtpServer& server, FtpClient* client, const std::string& reply) {
  server.SendReply(client, reply.c_str());
  server.CloseDataConnection(client);
  client->transferState = kIdle;
}

}  // namespace

void CFtpServer::AwaitTransferWorker(FtpClient* client) {
  if (!client->transferThread.joinable()) return;
  client->transferThread.join();
  CloseRetiredSockets(client);
}

// The worker may be in a send or receive on the data socket: the socket is
// shut down (which ends that call) and released once the worker has ended.
void CFtpServer::AbortTransfer(FtpClient* client) {
  if (client->transferState != kIdle) {
    RetireSocket(client, &client->dataSocket);
    SendReply(client, "426 Previous command has been finished abnormally.\r\n");
    client->dataMode = kDataNone;
    client->transferState = kIdle;
  }
  SendReply(client, "226 ABOR command successful.\r\n");
}

bool CFtpServer::MayStartDataCommand(FtpClient* client, uint8_t privilege, bool argumentOk) {
  const char* refusal = nullptr;
  if (!AccountMay(client->account, privilege)) {
    refusal = kReplyPermission;
  } else if (!argumentOk) {
    refusal = kReplySyntax;
  } else if (client->transferState != kIdle) {
    refusal = kReplyAlreadyConnected;
  }
  if (refusal != nullptr) SendReply(client, refusal);
  return refusal == nullptr;
}

bool CFtpServer::OpenDataConnectionOrTell(FtpClient* client) {
  AwaitTransferWorker(client);
  if (client->dataMode != kDataNone && OpenDataConnection(client)) return true;
  SendReply(client, "425 Can't open data connection.\r\n");
  return false;
}

void CFtpServer::RetrieveFile(FtpClient* client, std::string* argument) {
  if (!MayStartDataCommand(client, kPrivDownload, argument != nullptr) ||
      !OpenDataConnectionOrTell(client)) {
    return;
  }
  std::optional<std::string> path =
      BuildPath(client->account->startPath.c_str(), client->currentDirectory.c_str(), argument);
  struct stat record;
  if (!path || !StatRecord(*path, record) || S_ISDIR(record.st_mode)) {
    SendReply(client, "550 File not found.\r\n");
    return;
  }
  client->transferState = kSending;
  TransferJob job{client->restartOffset, std::move(*path), client->transferType, true};
  client->restartOffset = 0;
  SendReply(client, "150 Opening data connection.\r\n");
  if (!StartThread(client->transferThread,
                   [this, client, job] { SendFileThread(client, job); })) {
    CloseSocket(&client->dataSocket);
    client->transferState = kIdle;
    SendReply(client, "550 Can 't Send File.\r\n");
  }
}

bool CFtpServer::StoreFile(FtpClient* client, std::string* argument, const char* command) {
  if (client == nullptr || client->server != this) return false;
  const std::string verb = command;
  if (!MayStartDataCommand(client, kPrivUpload, argument != nullptr || verb == "STOU") ||
      !OpenDataConnectionOrTell(client)) {
    return false;
  }
  client->transferState = kReceiving;
  const char* start = client->account->startPath.c_str();
  std::optional<std::string> path;
  if (verb == "STOU") path = UniquePath(client);
  if (!path) path = BuildPath(start, client->currentDirectory.c_str(), argument);
  // A read-only drive or a name the volume cannot hold is told before any
  // byte is sent; STOU's own names always fit.
  std::optional<std::string> refusal;
  if (!path) {
    refusal = "553 File name not allowed.\r\n";
  } else if (!VRAX_CanWrite()) {
    refusal = kReplyReadOnly;
  } else if (verb != "STOU") {
    refusal = NameReply(LastComponent(*path));
  }
  if (refusal) {
    RefuseUpload(*this, client, *refusal);
    return false;
  }
  struct stat record;
  const bool existed = StatRecord(*path, record);
  TransferJob job{client->restartOffset, *path, client->transferType, existed};
  if (verb == "APPE") job.restartOffset = existed ? static_cast<int64_t>(record.st_size) : 0;
  client->restartOffset = 0;
  if (verb == "STOU") {
    SendFormattedReply(client, "150 FILE: %s\r\n", path->c_str() + std::strlen(start));
  } else {
    SendReply(client, "150 Opening data connection.\r\n");
  }
  if (!StartThread(client->transferThread,
                   [this, client, job] { ReceiveFileThread(client, job); })) {
    CloseSocket(&client->dataSocket);
    client->transferState = kIdle;
    SendReply(client, "550 Can 't receive file.\r\n");
    return false;
  }
  return true;
}

}  // namespace vrax::ftp
