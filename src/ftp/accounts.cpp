// Accounts: creating, finding and deleting them, anonymous access, limits
// and privileges. Every operation runs under the list lock.
#include <strings.h>
#include <sys/stat.h>

#include <vector>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"

namespace vrax::ftp {

namespace {

bool IsAnonymousName(const char* name) { return strcasecmp(name, "anonymous") == 0; }

// The start path tidied and checked on the volume; a trailing '/' is dropped
// when the path is only found without it. Only existence is checked.
std::optional<std::string> CheckedStartPath(const char* startPath) {
  std::string path = startPath;
  CFtpServer::NormalizePath(path);
  struct stat record;
  if (VRAX_stat64(path.c_str(), &record) == 0) return path;
  if (path.empty() || path.back() != '/') return std::nullopt;
  path.pop_back();
  if (VRAX_stat64(path.c_str(), &record) == 0) return path;
  return std::nullopt;
}

}  // namespace

FtpUser* CFtpServer::AddUser(const char* name, const char* password, const char* startPath) {
  if (startPath == nullptr || *startPath == '\0' || name == nullptr) return nullptr;
  if (password == nullptr && !IsAnonymousName(name)) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  if (FindUser(name) != nullptr) return nullptr;
  std::optional<std::string> checked = CheckedStartPath(startPath);
  if (!checked) return nullptr;
  auto* user = new FtpUser;
  user->name = name;
  if (password != nullptr) user->password = password;
  user->startPath = std::move(*checked);
  user->listed = true;
  users_.push_back(user);
  user->valid = 1;
  ++numberOfUsers_;
  return user;
}

FtpUser* CFtpServer::FindUser(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  for (FtpUser* user : users_) {
    if (strcasecmp(user->name.c_str(), name) == 0) return user;
  }
  return nullptr;
}

// Clients logged in to the account are removed; clients that only named it
// with USER forget it. The record itself is freed once no client refers to
// it, which is at once unless a removal elsewhere is still finishing.
bool CFtpServer::DeleteUser(FtpUser* user) {
  if (user == nullptr) return false;
  std::vector<FtpClient*> removed;
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    if (!user->listed) return false;
    user->valid = 0;
    for (auto it = clients_.begin(); it != clients_.end();) {
      FtpClient* client = *it++;
      if (client->account != user) continue;
      if (client->loggedIn) {
        DetachClient(client);
        removed.push_back(client);
      } else {
        ReferAccount(client, nullptr);
      }
    }
    users_.remove(user);
    user->listed = false;
    --numberOfUsers_;
    if (anonymousUser_ == user) {
      anonymousUser_ = nullptr;
      anonymousEnabled_ = 0;
    }
    FreeUserIfUnused(user);
  }
  FinishRemovals(removed);
  return true;
}

void CFtpServer::DeleteAllUsers() {
  for (;;) {
    FtpUser* user = nullptr;
    {
      std::lock_guard<std::recursive_mutex> hold(listLock_);
      if (users_.empty()) return;
      user = users_.front();
    }
    DeleteUser(user);
  }
}

bool CFtpServer::AllowAnonymous(bool enable, const char* startPath) {
  FtpUser* disabled = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(listLock_);
    if (enable) {
      if (anonymousEnabled_) return true;
      anonymousUser_ = AddUser("anonymous", nullptr, startPath);
      if (anonymousUser_ == nullptr) return false;
      SetPrivileges(anonymousUser_, kPrivAnonymous);
      anonymousEnabled_ = 1;
      return true;
    }
    if (!anonymousEnabled_) return true;
    disabled = anonymousUser_;
  }
  // Deleting waits for the removed clients' threads: not under the lock.
  return DeleteUser(disabled);
}

bool CFtpServer::SetMaxClients(FtpUser* user, int32_t limit) {
  if (user == nullptr || limit < -1) return false;
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  user->maxClients = limit;
  return true;
}

bool CFtpServer::SetPrivileges(FtpUser* user, uint8_t mask) {
  if (user == nullptr || (mask & kPrivForbidden) != 0) return false;
  std::lock_guard<std::recursive_mutex> hold(listLock_);
  user->privileges = mask;
  return true;
}

}  // namespace vrax::ftp
