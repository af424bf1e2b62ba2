// LIST, NLST and STAT with an argument: listings of a volume directory.
//
// A listing runs on the session thread. LIST and NLST send their lines on
// a data connection and always end with it closed and the data mode reset;
// STAT sends them on the control connection. A path that cannot be built,
// does not exist or is a file gives an empty listing. Each line goes out in
// one send whose result is ignored: a listing runs to its end.
#include <cstring>

#include "fileio/vrax_io.h"
#include "ftp/dir_walk.h"
#include "ftp/ftp_server.h"
#include "ftp/list_format.h"
#include "platform/host_time.h"

namespace vrax::ftp {

namespace {

enum class ListKind { kList, kNames, kStatus };

struct Listing {
  const FtpClient* client;
  ListKind kind;
  ListOptions options;
  size_t startLength;  // characters of the account's start path

  void Send(const std::string& text) const {
    const SocketHandle s =
        kind == ListKind::kStatus ? client->controlSocket.load() : client->dataSocket.load();
    SocketSend(s, text.data(), text.size());
  }
};

ListEntry EntryOf(const struct stat& record, std::string name, bool slash) {
  ListEntry entry;
  entry.directory = S_ISDIR(record.st_mode);
  entry.size = static_cast<int64_t>(record.st_size);
  entry.modified = static_cast<int64_t>(record.st_mtime);
  entry.name = std::move(name);
  entry.slash = slash && entry.directory;
  return entry;
}

void ListItself(const Listing& listing, const std::string& path, const struct stat& record) {
  std::string name = ".";
  if (listing.kind == ListKind::kStatus) name = path.substr(listing.startLength);
  listing.Send(FormatLongLine(EntryOf(record, name, listing.options.classify), NowSeconds()));
}

void ListEntryLine(const Listing& listing, const FtpDirWalk& walk) {
  if (listing.kind == ListKind::kNames) {
    listing.Send(std::string(walk.fullPath + listing.startLength + 1) + "\r\n");
    return;
  }
  struct stat record;
  VRAX_stat64(walk.fullPath, &record);  // after a failure: all zeros, a file of size 0
  ListEntry entry = EntryOf(record, walk.name, listing.options.classify);
  if (entry.directory) entry.size = 0;
  listing.Send(FormatLongLine(entry, NowSeconds()));
}

void ListEntries(const Listing& listing, const std::string& path) {
  FtpDirWalk* walk = DirWalkFirst(path.c_str());
  for (bool more = walk != nullptr; more; more = DirWalkNext(walk)) {
    if (walk->name[0] != '.') ListEntryLine(listing, *walk);
  }
  DirWalkClose(walk);
}

ListKind KindOf(const char* command) {
  if (std::strcmp(command, "NLST") == 0) return ListKind::kNames;
  if (std::strcmp(command, "STAT") == 0) return ListKind::kStatus;
  return ListKind::kList;
}

}  // namespace

void CFtpServer::ListDirectory(FtpClient* client, std::string* argument, const char* command) {
  if (client == nullptr || client->server != this) return;
  if (client->account == nullptr || (client->account->privileges & kPrivList) == 0) {
    SendReply(client, "550 Permission denied.\r\n");
    return;
  }
  if (client->transferState != kIdle) {
    SendReply(client, "425 You're already connected.\r\n");
    return;
  }
  const ListKind kind = KindOf(command);
  if (kind == ListKind::kStatus) {
    SendReply(client, "213-Status follows:\r\n");
  } else {
    AwaitTransferWorker(client);
    if (client->dataMode == kDataNone || !OpenDataConnection(client)) {
      SendReply(client, "425 Can't open data connection.\r\n");
      return;
    }
    SendReply(client, "150 Opening data connection for directory list.\r\n");
  }
  client->transferState = kListing;
  const std::string& start = client->account->startPath;
  Listing listing{client, kind, ParseListOptions(argument ? *argument : std::string()),
                  start.size()};
  std::optional<std::string> path =
      BuildPath(start.c_str(), client->currentDirectory.c_str(), &listing.options.path);
  struct stat record;
  if (path && VRAX_stat64(path->c_str(), &record) == 0 && S_ISDIR(record.st_mode)) {
    if (listing.options.directoryItself) {
      ListItself(listing, *path, record);
    } else {
      ListEntries(listing, *path);
    }
  }
  if (kind == ListKind::kStatus) {
    SendReply(client, "213 End of status\r\n");
  } else {
    SendReply(client, "226 Transfer complete.\r\n");
    CloseSocket(&client->dataSocket);
    client->dataMode = kDataNone;
  }
  client->transferState = kIdle;
}

}  // namespace vrax::ftp
