// The facts of machine listings (MLST, MLSD): "type=file;size=22;
// modify=20240315120000;perm=adfrw; name".
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace vrax::ftp {

// "type;size;modify;perm;" with the facts of `selected` (kFact* bits, in
// that order); with `starred`, every fact is listed and the selected ones
// carry a '*' (the FEAT line).
std::string FactNames(uint8_t selected, bool starred);

// The kFact* bits of a fact list such as "type;size;" (OPTS MLST), letter
// case ignored; unknown facts are passed over.
uint8_t ParseFactNames(const std::string& list);

// What the account may do with a file or directory, as MLST perm letters:
// files a d f r w, directories c d e f l m p. Changes need a writable
// drive as well as the privilege.
std::string PermLetters(bool directory, uint8_t privileges, bool writable);

struct FactSubject {
  const char* type;          // "file", "dir", "cdir" or "pdir"
  const struct stat* record;
  uint8_t privileges;
  bool writable;
};

// The selected facts and the blank before the name. Sizes are given for
// files; the modification time in UTC, to the second.
std::string FormatFacts(const FactSubject& subject, uint8_t selected);

}  // namespace vrax::ftp
