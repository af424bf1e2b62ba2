// One command of a client session, and the handlers of every command word.
#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "ftp/command_line.h"
#include "ftp/ftp_server.h"
#include "ftp/replies.h"

namespace vrax::ftp {

// What the session does after a command.
enum class Flow { kContinue, kEndSession };

struct Command {
  CFtpServer& server;
  FtpClient& client;
  CommandLine line;

  // The argument, or null when the line had no blank.
  std::string* argument() { return line.hasArgument ? &line.argument : nullptr; }
  // The volume path of the argument (account's start path, current
  // directory, argument), or none.
  std::optional<std::string> BuildPath();
  // BuildPath, when the path names something: `record` holds its stat.
  std::optional<std::string> ExistingPath(struct stat& record);
  bool Reply(const char* text) { return server.SendReply(&client, text); }
  bool HasPrivilege(uint8_t bit) const;
};

// Runs the command the line names, in the fixed order of command words.
Flow Dispatch(Command& command);
// Every command word the server knows, in alphabetical order.
std::vector<std::string> CommandWords();
// `path` in double quotes, each quote within it doubled.
std::string QuotedPath(const std::string& path);

using CommandHandler = Flow (*)(Command&);

// Login (commands_login.cpp).
Flow CmdQuit(Command& c);
Flow CmdUser(Command& c);
Flow CmdPass(Command& c);
Flow CmdRein(Command& c);
// Protection (commands_security.cpp): AUTH, PBSZ, PROT and CCC.
Flow CmdAuth(Command& c);
Flow CmdPbsz(Command& c);
Flow CmdProt(Command& c);
Flow CmdCcc(Command& c);
// Settings and information (commands_settings.cpp).
Flow CmdNoop(Command& c);
Flow CmdAllo(Command& c);
Flow CmdHelp(Command& c);
Flow CmdSyst(Command& c);
Flow CmdStru(Command& c);
Flow CmdMode(Command& c);
Flow CmdType(Command& c);
Flow CmdFeat(Command& c);
Flow CmdOpts(Command& c);
// Directories (commands_navigation.cpp).
Flow CmdCwd(Command& c);
Flow CmdPwd(Command& c);
Flow CmdCdup(Command& c);
// File information (commands_query.cpp).
Flow CmdMdtm(Command& c);
Flow CmdSize(Command& c);
Flow CmdStat(Command& c);
Flow CmdMlst(Command& c);
// Setting a file's modification time (commands_modify_time.cpp).
Flow CmdMfmt(Command& c);
// Names on the volume (commands_namespace.cpp).
Flow CmdDele(Command& c);
Flow CmdRnfr(Command& c);
Flow CmdRnto(Command& c);
Flow CmdMkd(Command& c);
Flow CmdRmd(Command& c);
// Data connections, listings and transfers (commands_data.cpp).
Flow CmdPort(Command& c);
Flow CmdPasv(Command& c);
Flow CmdEprt(Command& c);
Flow CmdEpsv(Command& c);
Flow CmdList(Command& c);
Flow CmdNlst(Command& c);
Flow CmdMlsd(Command& c);
Flow CmdAbor(Command& c);
Flow CmdRest(Command& c);
Flow CmdRetr(Command& c);
Flow CmdStor(Command& c);
Flow CmdAppe(Command& c);
Flow CmdStou(Command& c);

}  // namespace vrax::ftp
