#include "ftp/list_format.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "ftp/ftp_limits.h"
#include "ftp/ftp_server.h"
#include "platform/host_time.h"

namespace vrax::ftp {

namespace {

bool IsOptionChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

ListOptions ParseListOptions(const std::string& argument) {
  ListOptions options;
  size_t pos = 0;
  while (pos < argument.size() && argument[pos] == '-') {
    for (++pos; pos < argument.size() && IsOptionChar(argument[pos]); ++pos) {
      if (argument[pos] == 'F') options.classify = true;
      if (argument[pos] == 'd') options.directoryItself = true;
    }
    while (pos < argument.size() && IsBlank(argument[pos])) ++pos;
  }
  options.path = argument.substr(pos);
  return options;
}

std::string FormatLongLine(const ListEntry& entry, int64_t now) {
  std::tm local{};
  if (!LocalCalendar(entry.modified, &local)) LocalCalendar(0, &local);
  char when[16];
  const bool recent = entry.modified > now || now - entry.modified <= kRecentSeconds;
  if (recent) {
    std::snprintf(when, sizeof when, "%02d:%02d", local.tm_hour, local.tm_min);
  } else {
    std::snprintf(when, sizeof when, "%5d", local.tm_year + 1900);
  }
  char line[512];
  std::snprintf(line, sizeof line, "%s 1 user group %14" PRId64 " %s %2d %s %s%s\r\n",
                entry.directory ? "drwx------" : "-rwx------", entry.size,
                CFtpServer::MonthName(local.tm_mon), local.tm_mday, when, entry.name.c_str(),
                entry.slash ? "/" : "");
  return line;
}

}  // namespace vrax::ftp
