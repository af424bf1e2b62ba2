// DELE, RNFR, RNTO, MKD and RMD: changes to the names on the volume.
#include "fileio/vrax_io.h"
#include "ftp/command.h"

namespace vrax::ftp {

namespace {

// The built path when it names something that exists, else none.
std::optional<std::string> ExistingPath(Command& c) {
  std::optional<std::string> path = c.BuildPath();
  struct stat record;
  if (path && VRAX_stat64(path->c_str(), &record) != 0) path.reset();
  return path;
}

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

}  // namespace

Flow CmdDele(Command& c) {
  if (!Permitted(c, kPrivDeleteRename)) return Flow::kContinue;
  const std::optional<std::string> path = ExistingPath(c);
  if (!path) {
    c.Reply("550 No such file.\r\n");
  } else if (VRAX_remove(path->c_str(), 0) == -1) {
    c.Reply("550 Can' t Remove or Access Error.\r\n");
  } else {
    c.Reply("250 DELE command successful.\r\n");
  }
  return Flow::kContinue;
}

Flow CmdRnfr(Command& c) {
  if (!Permitted(c, kPrivDeleteRename)) return Flow::kContinue;
  std::optional<std::string> path = ExistingPath(c);
  if (!path) {
    c.Reply("550 No such file or directory.\r\n");
  } else {
    c.client.renameSource = std::move(path);
    c.Reply("350 File or directory exists, ready for destination name.\r\n");
  }
  return Flow::kContinue;
}

// The source was checked by RNFR, privilege included.
Flow CmdRnto(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplySyntax);
    return Flow::kContinue;
  }
  if (!c.client.renameSource) {
    c.Reply("503 Bad sequence of commands\r\n");
    return Flow::kContinue;
  }
  const std::optional<std::string> path = c.BuildPath();
  if (!path || VRAX_rename(c.client.renameSource->c_str(), path->c_str()) != 0) {
    c.Reply("550 Invalid argument.\r\n");
  } else {
    c.Reply("250 Rename successful.\r\n");
  }
  c.client.renameSource.reset();
  return Flow::kContinue;
}

Flow CmdMkd(Command& c) {
  if (!Permitted(c, kPrivMakeDir)) return Flow::kContinue;
  const std::optional<std::string> path = c.BuildPath();
  struct stat record;
  if (!path || VRAX_stat64(path->c_str(), &record) == 0) {
    c.Reply("550 File Already Exists.\r\n");
  } else if (VRAX_mkdir(path->c_str()) == -1) {
    c.Reply("550 MKD Error Creating DIR.\r\n");
  } else {
    c.Reply("250 MKD command successful.\r\n");
  }
  return Flow::kContinue;
}

Flow CmdRmd(Command& c) {
  if (!Permitted(c, kPrivRemoveDir)) return Flow::kContinue;
  const std::optional<std::string> path = ExistingPath(c);
  if (!path) {
    c.Reply("550 Directory not found.\r\n");
  } else if (VRAX_rmdir(path->c_str()) == -1) {
    c.Reply("450 Internal error deleting the directory.\r\n");
  } else {
    c.Reply("250 Directory deleted successfully.\r\n");
  }
  return Flow::kContinue;
}

}  // namespace vrax::ftp
