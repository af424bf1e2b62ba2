// An account that FTP clients log in to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vrax::ftp {

// Every field is written under the server's list lock. Sessions read the
// configuration (password, start path, privileges, limit) without it: those
// are set before the server listens and never change while clients exist.
struct FtpUser {
  int32_t maxClients = 0;                // 0: no limit; else PASS needs currentClients below it
  uint8_t privileges = 0;                // kPriv* bits (ftp_limits.h)
  std::string name;                      // compared without regard to letter case
  std::optional<std::string> password;   // compared exactly; none only for "anonymous"
  uint8_t valid = 0;                     // 0 once deleted: logins treat it as unknown
  std::string startPath;                 // drive-prefixed root of the account, e.g. /1
  int32_t currentClients = 0;            // clients logged in to it now (exact)
  // Clients whose account pointer names this record. A deleted account is
  // freed only when this reaches 0, so no client ever refers to a freed one.
  int32_t references = 0;
  bool listed = false;                   // in the server's user list
};

// Whether a client logged in to `account` (null: nobody) may do what the
// kPriv* `bit` stands for.
inline bool AccountMay(const FtpUser* account, uint8_t bit) {
  return account != nullptr && (account->privileges & bit) != 0;
}

}  // namespace vrax::ftp
