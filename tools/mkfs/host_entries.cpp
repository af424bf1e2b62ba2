#include "host_entries.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace vrax::mkfs {

namespace {

namespace fs = std::filesystem;

std::time_t ModifiedSeconds(const fs::path& path) {
  std::error_code failed;
  const fs::file_time_type when = fs::last_write_time(path, failed);
  if (failed) return 0;
  return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(when));
}

// Kind, size and time of one entry, without following a symbolic link.
HostEntry Describe(const fs::directory_entry& item) {
  HostEntry entry;
  entry.name = item.path().filename().string();
  entry.path = item.path().string();
  std::error_code failed;
  const fs::file_type type = item.symlink_status(failed).type();
  if (failed) return entry;
  if (type == fs::file_type::regular) {
    entry.kind = HostKind::kFile;
    entry.size = fs::file_size(item.path(), failed);
    if (failed) entry.kind = HostKind::kOther;
  } else if (type == fs::file_type::directory) {
    entry.kind = HostKind::kDirectory;
  }
  if (entry.kind != HostKind::kOther) entry.modified = ModifiedSeconds(item.path());
  return entry;
}

}  // namespace

bool ListHostDirectory(const std::string& dir, std::vector<HostEntry>& entries,
                       std::string& error) {
  entries.clear();
  std::error_code failed;
  fs::directory_iterator it(dir, failed);
  for (; !failed && it != fs::directory_iterator(); it.increment(failed)) {
    entries.push_back(Describe(*it));
  }
  if (failed) {
    error = failed.message();
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const HostEntry& a, const HostEntry& b) { return a.name < b.name; });
  return true;
}

}  // namespace vrax::mkfs
