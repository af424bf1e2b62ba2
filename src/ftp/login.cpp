// The account side of USER, PASS and REIN.
//
// An account's current clients is the exact number of clients logged in to
// it (anonymous logins included): every login adds one and every way out of
// a login (a further USER or PASS, REIN, removal) takes it away again. A
// client's account pointer is counted in the account's references, so an
// account is never freed while a client still names it. Both change under
// the list lock; replies are sent after it is released, so a client that
// does not read its replies cannot hold the lock up.
//
// Guessing passwords is made slow: a failed password is answered only after
// a pause (on the session's own thread, holding no lock, so no other
// session waits for it), and the session ends after a few failures.
#include <strings.h>

#include <algorithm>

#include "ftp/ftp_server.h"
#include "ftp/replies.h"
#include "platform/threads.h"

namespace vrax::ftp {

void CFtpServer::ReferAccount(FtpClient* client, FtpUser* user) {
  FtpUser* old = client->account;
  if (old == user) return;
  client->account = user;
  if (user != nullptr) ++user->references;
  if (old != nullptr) {
    --old->references;
    FreeUserIfUnused(old);
  }
}

void CFtpServer::LeaveLogin(FtpClient* client) {
  if (client->loggedIn && client->account != nullptr) --client->account->currentClients;
  client->loggedIn = 0;
  client->noPassword = 0;
}

void CFtpServer::FreeUserIfUnused(FtpUser* user) {
  if (user != nullptr && !user->listed && user->references == 0) delete user;
}

void CFtpServer::LoginUser(FtpClient* client, const std::string& name) {
  const char* reply = "331 Password required for this user.\r\n";
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    LeaveLogin(client);
    if (anonymousEnabled_ && anonymousUser_ != nullptr &&
        strcasecmp(name.c_str(), "anonymous") == 0) {
      ReferAccount(client, anonymousUser_);
      client->loggedIn = 1;
      client->noPassword = 1;
      ++anonymousUser_->currentClients;
      reply = "230 User Logged In.\r\n";
    } else {
      FtpUser* user = FindUser(name.c_str());
      ReferAccount(client, user != nullptr && user->valid ? user : nullptr);
    }
  }
  SendReply(client, reply);
}

bool CFtpServer::AfterFailedLogin(FtpClient* client) {
  ++client->failedLogins;
  for (int slept = 0; slept < loginFailurePauseMilliseconds_ && !client->finished;) {
    const int slice = std::min(kPauseSliceMilliseconds, loginFailurePauseMilliseconds_ - slept);
    SleepMilliseconds(slice);
    slept += slice;
  }
  if (client->failedLogins < kMaxLoginFailures) return true;
  SendReply(client, "421 Too many failed logins.\r\n");
  return false;
}

bool CFtpServer::LoginPassword(FtpClient* client, const std::string* argument) {
  constexpr const char* kFailed = "530 Please login with valid USER and PASS.\r\n";
  const char* reply = kFailed;
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    FtpUser* user = client->account;
    if (client->noPassword) {
      client->loggedIn = 1;  // counted when USER logged the client in
      reply = "230 User Logged In.\r\n";
    } else if (argument == nullptr) {
      reply = kReplyArgumentCount;
    } else if (user != nullptr && user->valid && user->password && *argument == *user->password) {
      LeaveLogin(client);
      if (user->maxClients == 0 || user->currentClients < user->maxClients) {
        client->loggedIn = 1;
        ++user->currentClients;
        reply = "230 User Logged In.\r\n";
      } else {
        reply = "421 Too many users logged in for this account.\r\n";
      }
    }
  }
  if (reply == kFailed && !AfterFailedLogin(client)) return false;
  SendReply(client, reply);
  return true;
}

void CFtpServer::Reinitialize(FtpClient* client) {
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    LeaveLogin(client);
    ReferAccount(client, nullptr);
  }
  client->transferType = kTypeBinary;
  client->currentDirectory = "/";
  // A data socket left by PASV or PORT is closed too; one that a running
  // transfer uses is left to that transfer, which closes it at its end.
  if (client->transferState == kIdle) {
    AwaitTransferWorker(client);
    CloseSocket(&client->dataSocket);
  }
  client->dataMode = kDataNone;
  client->epsvAll = false;
  client->mlstFacts = kAllFacts;
  client->renameSource.reset();
  SendReply(client, "200 Reinitialize Successful.\r\n");
}

}  // namespace vrax::ftp
