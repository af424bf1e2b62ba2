// DELE, RNFR, RNTO, MKD and RMD: changes to the names on the volume.
//
// DELE removes files only and RMD directories only. A change the volume
// refuses for a reason the client can act on (read-only drive, full
// volume, a name it cannot hold, a directory moved into itself) is
// answered with that reason; other failures keep their general replies.
#include <strings.h>

#include "fileio/vrax_io.h"
#include "ftp/command.h"
#include "ftp/refusals.h"
#include "platform/error_codes.h"

namespace vrax::ftp {

namespace {

// Privilege and argument checks shared by the commands below.
bool Permitted(Command& c, uint8_t privilege) {
  if (!c.HasPrivilege(privilege)) {
    c.Reply(kReplyPermission);
    return false;
  }
  if (c.argument() == nullptr) {
    c.Reply(kReplySyntax);
    return false;
  }
  return true;
}

// The refusal's own reply, or `general`.
void ReplyFailure(Command& c, const std::string& path, const char* general) {
  const std::optional<std::string> refusal = ChangeRefusal(VRAX_LastError(), LastComponent(path));
  c.Reply(refusal ? refusal->c_str() : general);
}

// `inner` is `outer` or lies below it (names compare without letter case).
bool Within(const std::string& inner, const std::string& outer) {
  return inner.size() >= outer.size() &&
         strncasecmp(inner.c_str(), outer.c_str(), outer.size()) == 0 &&
         (inner.size() == outer.size() || inner[outer.size()] == '/');
}

// Why a rename failed, for the errors a client can act on.
const char* RenameFailure(int32_t error, const std::string& from, const std::string& to) {
  if (error == kErrBadPathname && Within(to, from)) {
    return "553 Cannot move a directory into itself or below it.\r\n";
  }
  if (error == kErrAlreadyExists) return "550 Cannot rename: the new name exists already.\r\n";
  if (error == kErrPathNotFound) return "550 Cannot rename: no such directory for the new name.\r\n";
  return nullptr;
}

}  // namespace

Flow CmdDele(Command& c) {
  if (!Permitted(c, kPrivDeleteRename)) return Flow::kContinue;
  struct stat record;
  const std::optional<std::string> path = c.ExistingPath(record);
  if (!path) {
    c.Reply("550 No such file.\r\n");
  } else if (S_ISDIR(record.st_mode)) {
    c.Reply("550 Not a file: RMD removes directories.\r\n");
  } else if (!VRAX_CanWrite()) {
    c.Reply(kReplyReadOnly);
  } else if (VRAX_remove(path->c_str(), 0) == -1) {
    ReplyFailure(c, *path, "550 Can' t Remove or Access Error.\r\n");
  } else {
    c.Reply("250 DELE command successful.\r\n");
  }
  return Flow::kContinue;
}

Flow CmdRnfr(Command& c) {
  if (!Permitted(c, kPrivDeleteRename)) return Flow::kContinue;
  struct stat record;
  std::optional<std::string> path = c.ExistingPath(record);
  if (!path) {
    c.Reply("550 No such file or directory.\r\n");
  } else {
    c.client.renameSource = std::move(path);
    c.Reply("350 File or directory exists, ready for destination name.\r\n");
  }
  return Flow::kContinue;
}

// The source was checked by RNFR, privilege included. The new path may lie
// in another directory: files and directories move within the volume.
Flow CmdRnto(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplySyntax);
    return Flow::kContinue;
  }
  if (!c.client.renameSource) {
    c.Reply("503 Bad sequence of commands\r\n");
    return Flow::kContinue;
  }
  const std::string from = *c.client.renameSource;
  c.client.renameSource.reset();
  const std::optional<std::string> path = c.BuildPath();
  if (!path) {
    c.Reply("550 Invalid argument.\r\n");
  } else if (!VRAX_CanWrite()) {
    c.Reply(kReplyReadOnly);
  } else if (VRAX_rename(from.c_str(), path->c_str()) != 0) {
    const char* reason = RenameFailure(VRAX_LastError(), from, *path);
    if (reason != nullptr) {
      c.Reply(reason);
    } else {
      ReplyFailure(c, *path, "550 Invalid argument.\r\n");
    }
  } else {
    c.Reply("250 Rename successful.\r\n");
  }
  return Flow::kContinue;
}

Flow CmdMkd(Command& c) {
  if (!Permitted(c, kPrivMakeDir)) return Flow::kContinue;
  const std::optional<std::string> path = c.BuildPath();
  struct stat record;
  if (!path || VRAX_stat64(path->c_str(), &record) == 0) {
    c.Reply("550 File Already Exists.\r\n");
  } else if (!VRAX_CanWrite()) {
    c.Reply(kReplyReadOnly);
  } else if (VRAX_mkdir(path->c_str()) == -1) {
    ReplyFailure(c, *path, "550 MKD Error Creating DIR.\r\n");
  } else {
    const std::string shown = CFtpServer::ClientPath(c.client.account->startPath, *path);
    c.server.SendFormattedReply(&c.client, "257 %s created.\r\n", QuotedPath(shown).c_str());
  }
  return Flow::kContinue;
}

Flow CmdRmd(Command& c) {
  if (!Permitted(c, kPrivRemoveDir)) return Flow::kContinue;
  struct stat record;
  const std::optional<std::string> path = c.ExistingPath(record);
  if (!path) {
    c.Reply("550 Directory not found.\r\n");
  } else if (!S_ISDIR(record.st_mode)) {
    c.Reply("550 Not a directory: DELE removes files.\r\n");
  } else if (!VRAX_CanWrite()) {
    c.Reply(kReplyReadOnly);
  } else if (VRAX_rmdir(path->c_str()) == -1) {
    ReplyFailure(c, *path, "450 Internal error deleting the directory.\r\n");
  } else {
    c.Reply("250 Directory deleted successfully.\r\n");
  }
  return Flow::kContinue;
}

}  // namespace vrax::ftp
