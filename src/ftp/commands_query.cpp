// MDTM, SIZE and STAT: what the client may ask about files and the server.
#include <cinttypes>
#include <ctime>

#include "fileio/vrax_io.h"
#include "ftp/command.h"
#include "platform/host_time.h"

namespace vrax::ftp {

namespace {

bool StatPath(Command& c, struct stat& record) {
  const std::optional<std::string> path = c.BuildPath();
  return path && VRAX_stat64(path->c_str(), &record) == 0;
}

}  // namespace

Flow CmdMdtm(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
    return Flow::kContinue;
  }
  struct stat record;
  std::tm utc;
  if (!StatPath(c, record) || !S_ISREG(record.st_mode) ||
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
  if (!StatPath(c, record)) {
    c.Reply("550 No such file.\r\n");
  } else if (S_ISREG(record.st_mode)) {
    c.server.SendFormattedReply(&c.client, "213 %" PRId64 "\r\n",
                                static_cast<int64_t>(record.st_size));
  } else {
    c.server.SendFormattedReply(&c.client, "550 %s: not a regular file.\r\n", typed.c_str());
  }
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
