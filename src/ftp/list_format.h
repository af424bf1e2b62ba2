// The text of listings: options, and the long line of one entry.
#pragma once

#include <cstdint>
#include <string>

namespace vrax::ftp {

struct ListOptions {
  bool classify = false;         // F: "/" behind directory names
  bool directoryItself = false;  // d: describe the directory, not its entries
  std::string path;              // what follows the options (possibly empty)
};

// Options stand in front: "-" followed by letters or digits, then blanks;
// another "-" starts a further group. Letters other than F and d are
// accepted and mean nothing (-la lists as a plain LIST does).
ListOptions ParseListOptions(const std::string& argument);

struct ListEntry {
  bool directory = false;
  int64_t size = 0;
  int64_t modified = 0;  // seconds since 1970 UTC
  std::string name;
  bool slash = false;    // append "/" to the name
};

// "drwx------ 1 user group          size Mon dd hh:mm name\r\n", the time of
// day shown for a time in the future or at most 180 days before `now`, the
// year for anything older. Times are shown in local time.
std::string FormatLongLine(const ListEntry& entry, int64_t now);

}  // namespace vrax::ftp
