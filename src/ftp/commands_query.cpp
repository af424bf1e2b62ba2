// MDTM, SIZE and STAT: what the client may ask about files and the server.
#include <cinttypes>
#include <ctime>

#include "fileio/vrax_io.h"
#include "ftp/command.h"
#include "ftp/mlst_facts.h"
#include "platform/host_time.h"

namespace vrax::ftp {

Flow CmdMdtm(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
    return Flow::kContinue;
  }
  struct stat record;
  std::tm utc;
  if (!c.ExistingPath(record) || !S_ISREG(record.st_mode) ||
      !UtcCalendar(record.st_mtime, &utc)) {
    c.Reply("550 No such file or directory.\r\n");
    return Flow::kContinue;
  }
  c.server.SendFormattedReply(&c.client, "213 %04d%02d%02d%02d%02d%02d\r\n", utc.tm_year + 1900,
                              utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return Flow::kContinue;
}

Flow CmdSize(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplySyntax);
    return Flow::kContinue;
  }
  const std::string typed = *c.argument();  // before BuildPath tidies it
  struct stat record;
  if (!c.ExistingPath(record)) {
    c.Reply("550 No such file.\r\n");
  } else if (S_ISREG(record.st_mode)) {
    c.server.SendFormattedReply(&c.client, "213 %" PRId64 "\r\n",
                                static_cast<int64_t>(record.st_size));
  } else {
    c.server.SendFormattedReply(&c.client, "550 %s: not a regular file.\r\n", typed.c_str());
  }
  return Flow::kContinue;
}

// The facts of one file or directory (the current directory without an
// argument), on the control connection.
Flow CmdMlst(Command& c) {
  if (!c.HasPrivilege(kPrivList)) {
    c.Reply(kReplyPermission);
    return Flow::kContinue;
  }
  struct stat record;
  const std::optional<std::string> path = c.ExistingPath(record);
  if (!path) {
    c.Reply("550 No such file or directory.\r\n");
    return Flow::kContinue;
  }
  const std::string shown = CFtpServer::ClientPath(c.client.account->startPath, *path);
  const FactSubject subject{S_ISDIR(record.st_mode) ? "dir" : "file", &record,
                            c.client.account->privileges, VRAX_CanWrite()};
  const std::string reply = "250-Listing " + shown + "\r\n " +
                            FormatFacts(subject, c.client.mlstFacts) + shown + "\r\n250 End\r\n";
  c.Reply(reply.c_str());
  return Flow::kContinue;
}

Flow CmdStat(Command& c) {
  if (c.argument() == nullptr) {
    c.server.SendFormattedReply(&c.client, "211 :: CFtpServer / Corvane FTP Server:: %s\r\n",
                                CFtpServer::ContactAddress());
  } else {
    c.server.ListDirectory(&c.client, c.argument(), "STAT");
  }
  return Flow::kContinue;
}

}  // namespace vrax::ftp
