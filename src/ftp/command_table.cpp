// The command words in the order they are tested; the first equal name runs.
#include <algorithm>
#include <cstring>

#include "fileio/vrax_io.h"
#include "ftp/command.h"

namespace vrax::ftp {

namespace {

struct CommandEntry {
  const char* name;
  CommandHandler handler;
};

// Answered whether or not the client is logged in: clients ask for the
// features before they log in.
constexpr CommandEntry kLoginCommands[] = {
    {"QUIT", CmdQuit}, {"USER", CmdUser}, {"PASS", CmdPass}, {"FEAT", CmdFeat}, {"OPTS", CmdOpts},
    {"AUTH", CmdAuth}, {"PBSZ", CmdPbsz}, {"PROT", CmdProt}, {"CCC", CmdCcc},
};

// Answered only once the client is logged in.
constexpr CommandEntry kCommands[] = {
    {"NOOP", CmdNoop}, {"ALLO", CmdAllo}, {"HELP", CmdHelp}, {"REIN", CmdRein},
    {"SYST", CmdSyst}, {"STRU", CmdStru}, {"MODE", CmdMode}, {"TYPE", CmdType},
    {"PORT", CmdPort}, {"PASV", CmdPasv}, {"LIST", CmdList}, {"NLST", CmdNlst},
    {"EPRT", CmdEprt}, {"EPSV", CmdEpsv}, {"MLSD", CmdMlsd}, {"MLST", CmdMlst},
    {"MFMT", CmdMfmt}, {"CWD", CmdCwd},   {"XCWD", CmdCwd},  {"MDTM", CmdMdtm},
    {"PWD", CmdPwd},   {"XPWD", CmdPwd},  {"CDUP", CmdCdup}, {"XCUP", CmdCdup},
    {"STAT", CmdStat}, {"ABOR", CmdAbor}, {"REST", CmdRest}, {"RETR", CmdRetr},
    {"STOR", CmdStor}, {"APPE", CmdAppe}, {"STOU", CmdStou}, {"SIZE", CmdSize},
    {"DELE", CmdDele}, {"RNFR", CmdRnfr}, {"RNTO", CmdRnto}, {"MKD", CmdMkd},
    {"XMKD", CmdMkd},  {"RMD", CmdRmd},   {"XRMD", CmdRmd},
};

template <size_t N>
const CommandEntry* Find(const CommandEntry (&table)[N], const std::string& word) {
  for (const CommandEntry& entry : table) {
    if (word == entry.name) return &entry;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> CommandWords() {
  std::vector<std::string> words;
  for (const CommandEntry& entry : kLoginCommands) words.emplace_back(entry.name);
  for (const CommandEntry& entry : kCommands) words.emplace_back(entry.name);
  std::sort(words.begin(), words.end());
  return words;
}

Flow Dispatch(Command& command) {
  const std::string& word = command.line.word;
  if (const CommandEntry* entry = Find(kLoginCommands, word)) return entry->handler(command);
  if (!command.client.loggedIn) {
    command.Reply("530 Please login with USER and PASS.\r\n");
    return Flow::kContinue;
  }
  if (const CommandEntry* entry = Find(kCommands, word)) return entry->handler(command);
  command.Reply("500 Command not understood.\r\n");
  return Flow::kContinue;
}

std::optional<std::string> Command::BuildPath() {
  if (client.account == nullptr) return std::nullopt;
  return CFtpServer::BuildPath(client.account->startPath.c_str(),
                               client.currentDirectory.c_str(), argument());
}

std::optional<std::string> Command::ExistingPath(struct stat& record) {
  std::optional<std::string> path = BuildPath();
  if (path && VRAX_stat64(path->c_str(), &record) != 0) path.reset();
  return path;
}

bool Command::HasPrivilege(uint8_t bit) const {
  return AccountMay(client.account, bit);
}

}  // namespace vrax::ftp
