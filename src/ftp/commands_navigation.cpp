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
  const std::optional<std::string> path = c.BuildPath();
  struct stat record;
  if (!path || VRAX_stat64(path->c_str(), &record) != 0) {
    c.Reply("550 No such file or directory.\r\n");
    return Flow::kContinue;
  }
  const std::string rest = path->substr(c.client.account->startPath.size());
  c.client.currentDirectory = rest.empty() ? "/" : rest;
  c.Reply("250 CWD command successful.\r\n");
  return Flow::kContinue;
}

Flow CmdPwd(Command& c) {
  c.server.SendFormattedReply(&c.client, "257 \"%s\" is current directory.\r\n",
                              c.client.currentDirectory.c_str());
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
