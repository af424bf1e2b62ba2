#include "ftp/mlst_facts.h"

#include <cstdio>
#include <ctime>
#include <string_view>

#include "ftp/ftp_client.h"
#include "ftp/ftp_limits.h"
#include "platform/ascii_case.h"
#include "platform/host_time.h"

namespace vrax::ftp {

namespace {

struct FactName {
  uint8_t bit;
  const char* name;
};

constexpr FactName kFacts[] = {
    {kFactType, "type"}, {kFactSize, "size"}, {kFactModify, "modify"}, {kFactPerm, "perm"}};

std::string Modified(time_t seconds) {
  std::tm utc{};
  if (!UtcCalendar(seconds, &utc)) UtcCalendar(0, &utc);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace

std::string FactNames(uint8_t selected, bool starred) {
  std::string list;
  for (const FactName& fact : kFacts) {
    const bool chosen = (selected & fact.bit) != 0;
    if (!chosen && !starred) continue;
    list += fact.name;
    if (chosen && starred) list += '*';
    list += ';';
  }
  return list;
}

uint8_t ParseFactNames(const std::string& list) {
  uint8_t selected = 0;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    const std::string_view name(list.data() + start, end - start);
    for (const FactName& fact : kFacts) {
      if (EqualsNoCase(name, fact.name)) selected |= fact.bit;
    }
    start = end + 1;
  }
  return selected;
}

std::string PermLetters(bool directory, uint8_t privileges, bool writable) {
  const auto may = [&](uint8_t bit, bool change) {
    return (privileges & bit) != 0 && (writable || !change);
  };
  std::string letters;
  if (directory) {
    if (may(kPrivUpload, true)) letters += 'c';
    if (may(kPrivRemoveDir, true)) letters += 'd';
    letters += 'e';
    if (may(kPrivDeleteRename, true)) letters += 'f';
    if (may(kPrivList, false)) letters += 'l';
    if (may(kPrivMakeDir, true)) letters += 'm';
    if (may(kPrivDeleteRename, true)) letters += 'p';
    return letters;
  }
  if (may(kPrivUpload, true)) letters += 'a';
  if (may(kPrivDeleteRename, true)) letters += "df";
  if (may(kPrivDownload, false)) letters += 'r';
  if (may(kPrivUpload, true)) letters += 'w';
  return letters;
}

std::string FormatFacts(const FactSubject& subject, uint8_t selected) {
  const bool directory = S_ISDIR(subject.record->st_mode);
  std::string facts;
  if (selected & kFactType) facts += std::string("type=") + subject.type + ";";
  if ((selected & kFactSize) && !directory) {
    facts += "size=" + std::to_string(static_cast<int64_t>(subject.record->st_size)) + ";";
  }
  if (selected & kFactModify) facts += "modify=" + Modified(subject.record->st_mtime) + ";";
  if (selected & kFactPerm) {
    facts += "perm=" + PermLetters(directory, subject.privileges, subject.writable) + ";";
  }
  return facts + " ";
}

}  // namespace vrax::ftp
