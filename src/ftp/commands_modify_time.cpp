// MFMT YYYYMMDDHHMMSS path: sets the modification time (UTC) of a file or
// directory. The volume keeps whole minutes, so the seconds are dropped;
// the reply gives the time actually stored, as MDTM and MLST will show it.
#include <cstdio>
#include <ctime>

#include "fileio/vrax_io.h"
#include "ftp/command.h"
#include "ftp/refusals.h"
#include "platform/error_codes.h"
#include "platform/host_time.h"

namespace vrax::ftp {

namespace {

constexpr size_t kStampDigits = 14;  // YYYYMMDDHHMMSS

// The time of 14 digits, in UTC; false for anything else.
bool ParseStamp(const std::string& text, int64_t* seconds) {
  if (text.size() != kStampDigits || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  std::tm utc{};
  const auto field = [&](size_t at, size_t length) { return std::stoi(text.substr(at, length)); };
  utc.tm_year = field(0, 4) - 1900;
  utc.tm_mon = field(4, 2) - 1;
  utc.tm_mday = field(6, 2);
  utc.tm_hour = field(8, 2);
  utc.tm_min = field(10, 2);
  utc.tm_sec = field(12, 2);
  return utc.tm_sec < 60 && UtcSeconds(utc, seconds);
}

std::string StampText(int64_t seconds) {
  std::tm utc{};
  UtcCalendar(seconds, &utc);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

// Stores `minute` and returns the error; the time read back in `stored`.
// The volume writes its stamps in local time but reads them as standard
// time: where daylight saving time is in force the two differ, and the
// stamp is written once more, shifted by the difference, so that what is
// read back is what was asked for.
int32_t StoreMinute(const std::string& path, int64_t minute, struct stat& stored) {
  int32_t error = VRAX_SetModifiedTime(path.c_str(), static_cast<std::time_t>(minute));
  if (error != kOk || VRAX_stat64(path.c_str(), &stored) != 0) return error;
  const int64_t shift = static_cast<int64_t>(stored.st_mtime) - minute;
  if (shift != 0 &&
      VRAX_SetModifiedTime(path.c_str(), static_cast<std::time_t>(minute - shift)) == kOk) {
    VRAX_stat64(path.c_str(), &stored);
  }
  return kOk;
}

}  // namespace

Flow CmdMfmt(Command& c) {
  if (!c.HasPrivilege(kPrivUpload)) {
    c.Reply(kReplyPermission);
    return Flow::kContinue;
  }
  const std::string argument = c.argument() != nullptr ? *c.argument() : std::string();
  const size_t blank = argument.find(' ');
  int64_t seconds = 0;
  if (blank == std::string::npos || blank + 1 == argument.size() ||
      !ParseStamp(argument.substr(0, blank), &seconds)) {
    c.Reply(kReplySyntax);
    return Flow::kContinue;
  }
  const std::string typed = argument.substr(blank + 1);
  c.line.argument = typed;
  struct stat record;
  const std::optional<std::string> path = c.ExistingPath(record);
  if (!path) {
    c.Reply("550 No such file or directory.\r\n");
    return Flow::kContinue;
  }
  const int32_t error = StoreMinute(*path, seconds - (seconds % 60 + 60) % 60, record);
  if (error == kErrInvalidParameter) {
    c.Reply("501 The volume holds modification times from 1901 to 2155 only.\r\n");
  } else if (error != kOk) {
    const std::optional<std::string> refusal = ChangeRefusal(error, LastComponent(*path));
    c.Reply(refusal ? refusal->c_str() : "550 Cannot set the modification time.\r\n");
  } else {
    c.server.SendFormattedReply(&c.client, "213 Modify=%s; %s\r\n",
                                StampText(record.st_mtime).c_str(), typed.c_str());
  }
  return Flow::kContinue;
}

}  // namespace vrax::ftp
