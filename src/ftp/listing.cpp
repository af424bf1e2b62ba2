// LIST, NLST and STAT with an argument: listings of a volume directory.
//
// A listing runs on the session thread. LIST and NLST send their lines on
// a data connection and always end with it closed and the data mode reset;
// STAT sends them on the control connection. A path that cannot be built
// or does not exist gives an empty listing. A wildcard ('*', '?') in the
// last component lists the matching entries of the directory before it.
// NLST gives bare names (a wildcard argument's directory part in front, as
// typed, so that the names can be fetched as they are), and a file's name
// for a file. Lines go out in blocks (ListingOutput); a block that cannot
// be sent (the client vanished or stopped reading) shuts the connection
// down, so the rest of the listing fails at once instead of waiting out the
// send timeout block by block.
#include <cstring>

#include "fileio/vrax_io.h"
#include "ftp/dir_walk.h"
#include "ftp/ftp_server.h"
#include "ftp/list_format.h"
#include "ftp/list_scope.h"
#include "ftp/listing_output.h"
#include "ftp/name_glob.h"
#include "ftp/secure_channel.h"
#include "platform/host_time.h"

namespace vrax::ftp {

namespace {

enum class ListKind { kList, kNames, kStatus };

struct Listing {
  FtpClient* client;
  ListKind kind;
  ListOptions options;
  ListingOutput* output;

  void Send(const std::string& text) const { output->Add(text); }
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

void ListItself(const Listing& listing, const ListScope& scope) {
  std::string name = ".";
  if (listing.kind == ListKind::kStatus) {
    name = CFtpServer::ClientPath(listing.client->account->startPath, scope.path);
    if (name == "/") name.clear();
  }
  listing.Send(FormatLongLine(EntryOf(scope.record, name, listing.options.classify), NowSeconds()));
}

void ListEntryLine(const Listing& listing, const ListScope& scope, const FtpDirWalk& walk) {
  if (listing.kind == ListKind::kNames) {
    listing.Send(scope.shownPrefix + walk.name + "\r\n");
    return;
  }
  // The walk carries each entry's stat record (all zeros, a file of size 0,
  // when the entry could not be read).
  ListEntry entry = EntryOf(walk.findData.record, walk.name, listing.options.classify);
  if (entry.directory) entry.size = 0;
  listing.Send(FormatLongLine(entry, NowSeconds()));
}

void ListEntries(const Listing& listing, const ListScope& scope) {
  const std::unique_ptr<FtpDirWalk> walk = DirWalkFirst(scope.path.c_str());
  for (bool more = walk != nullptr; more; more = DirWalkNext(walk.get())) {
    if (walk->name[0] == '.') continue;
    if (scope.pattern.empty() || GlobMatch(scope.pattern, walk->name)) {
      ListEntryLine(listing, scope, *walk);
    }
  }
}

void ListScopeLines(const Listing& listing, const ListScope& scope) {
  if (scope.kind == ListScope::kFile && listing.kind == ListKind::kNames) {
    listing.Send(scope.shownName + "\r\n");
  } else if (scope.kind == ListScope::kDirectory) {
    if (listing.options.directoryItself && scope.pattern.empty()) {
      ListItself(listing, scope);
    } else {
      ListEntries(listing, scope);
    }
  }
}

ListKind KindOf(const char* command) {
  if (std::strcmp(command, "NLST") == 0) return ListKind::kNames;
  if (std::strcmp(command, "STAT") == 0) return ListKind::kStatus;
  return ListKind::kList;
}

}  // namespace

bool CFtpServer::BeginDataListing(FtpClient* client) {
  if (!OpenDataConnectionOrTell(client)) return false;
  SendReply(client, "150 Opening data connection for directory list.\r\n");
  if (!ProtectDataConnection(client)) {
    SendReply(client, kReplyDataTlsFailed);
    client->dataMode = kDataNone;
    return false;
  }
  client->transferState = kListing;
  return true;
}

void CFtpServer::EndDataListing(FtpClient* client) {
  CloseDataConnection(client);
  SendReply(client, "226 Transfer complete.\r\n");
  client->dataMode = kDataNone;
  client->transferState = kIdle;
}

void CFtpServer::ListDirectory(FtpClient* client, std::string* argument, const char* command) {
  if (client == nullptr || client->server != this) return;
  const ListKind kind = KindOf(command);
  if (!MayStartDataCommand(client, kPrivList)) return;
  if (kind == ListKind::kStatus) {
    SendReply(client, "213-Status follows:\r\n");
    client->transferState = kListing;
  } else if (!BeginDataListing(client)) {
    return;
  }
  ListingOutput output(client, kind == ListKind::kStatus);
  const Listing listing{client, kind, ParseListOptions(argument ? *argument : std::string()),
                        &output};
  ListScopeLines(listing, ResolveListScope(client->account->startPath, client->currentDirectory,
                                           listing.options.path));
  output.Flush();
  if (kind != ListKind::kStatus) {
    EndDataListing(client);
    return;
  }
  SendReply(client, "213 End of status\r\n");
  client->transferState = kIdle;
}

}  // namespace vrax::ftp
