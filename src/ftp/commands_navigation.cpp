// CWD, PWD and CDUP: the current directory, relative to the account's root.
#include "fileio/vrax_io.h"
#include "ftp/command.h"

namespace vrax::ftp {

// The target must exist; it need not be a directory.
Flow CmdCwd(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
    return Flow::kContinue;
  }
  struct stat record;
  const std::optional<std::string> path = c.ExistingPath(record);
  if (!path) {
    c.Reply("550 No such file or directory.\r\n");
    return Flow::kContinue;
  }
  c.client.currentDirectory = CFtpServer::ClientPath(c.client.account->startPath, *path);
  c.Reply("250 CWD command successful.\r\n");
  return Flow::kContinue;
}

// A quote in a path is doubled, so the path's end stays unambiguous.
std::string QuotedPath(const std::string& path) {
  std::string quoted = "\"";
  for (char ch : path) {
    quoted += ch;
    if (ch == '"') quoted += '"';
  }
  return quoted + "\"";
}

Flow CmdPwd(Command& c) {
  c.server.SendFormattedReply(&c.client, "257 %s is current directory.\r\n",
                              QuotedPath(c.client.currentDirectory).c_str());
  return Flow::kContinue;
}

Flow CmdCdup(Command& c) {
  std::string& directory = c.client.currentDirectory;
  const size_t slash = directory.rfind('/');
  if (slash == 0 || slash == std::string::npos) {
    directory = "/";
  } else {
    directory.resize(slash);
  }
  c.Reply("250 CDUP command successful.\r\n");
  return Flow::kContinue;
}

}  // namespace vrax::ftp
