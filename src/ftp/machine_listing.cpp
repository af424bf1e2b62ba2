// MLSD: a directory's entries as machine-readable facts (type, size,
// modification time in UTC, what the account may do), one line each, on a
// data connection. The directory itself comes first ("cdir", named "."),
// then its parent ("pdir", "..") unless it is the account's root. Names
// beginning with "." are left out, as in every listing.
#include "fileio/vrax_io.h"
#include "ftp/dir_walk.h"
#include "ftp/ftp_server.h"
#include "ftp/listing_output.h"
#include "ftp/mlst_facts.h"

namespace vrax::ftp {

namespace {

struct MachineListing {
  const FtpClient* client;
  bool writable;
  ListingOutput* output;

  void Send(const char* type, const struct stat& record, const std::string& name) const {
    const FactSubject subject{type, &record, client->account->privileges, writable};
    output->Add(FormatFacts(subject, client->mlstFacts) + name + "\r\n");
  }
};

void SendParent(const MachineListing& listing, const std::string& path) {
  const std::string& start = listing.client->account->startPath;
  if (path == start) return;
  struct stat record;
  if (VRAX_stat64(path.substr(0, path.rfind('/')).c_str(), &record) == 0) {
    listing.Send("pdir", record, "..");
  }
}

void SendEntries(const MachineListing& listing, const std::string& path) {
  const std::unique_ptr<FtpDirWalk> walk = DirWalkFirst(path.c_str());
  for (bool more = walk != nullptr; more; more = DirWalkNext(walk.get())) {
    const struct stat& record = walk->findData.record;
    if (walk->name[0] == '.' || walk->findData.statResult != 0) continue;
    listing.Send(S_ISDIR(record.st_mode) ? "dir" : "file", record, walk->name);
  }
}

}  // namespace

// The path is examined before the data connection is opened: a missing
// directory or a file is refused at once.
void CFtpServer::MachineListDirectory(FtpClient* client, std::string* argument) {
  if (!MayStartDataCommand(client, kPrivList)) return;
  const std::optional<std::string> path =
      BuildPath(client->account->startPath.c_str(), client->currentDirectory.c_str(), argument);
  struct stat record;
  if (!path || VRAX_stat64(path->c_str(), &record) != 0) {
    SendReply(client, "550 No such file or directory.\r\n");
    return;
  }
  if (!S_ISDIR(record.st_mode)) {
    SendReply(client, "501 Not a directory: MLST describes a file.\r\n");
    return;
  }
  if (!BeginDataListing(client)) return;
  ListingOutput output(client, false);
  const MachineListing listing{client, VRAX_CanWrite(), &output};
  listing.Send("cdir", record, ".");
  SendParent(listing, *path);
  SendEntries(listing, *path);
  output.Flush();
  EndDataListing(client);
}

}  // namespace vrax::ftp
