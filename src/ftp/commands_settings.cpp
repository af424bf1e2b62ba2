// Commands that only answer or set a transfer parameter.
#include "ftp/command.h"
#include "ftp/mlst_facts.h"
#include "platform/ascii_case.h"

namespace vrax::ftp {

Flow CmdNoop(Command& c) {
  c.Reply("200 NOOP Command Successful.\r\n");
  return Flow::kContinue;
}

Flow CmdAllo(Command& c) {
  c.Reply("200 ALLO Command Successful.\r\n");
  return Flow::kContinue;
}

// The command words, a fixed number to a line.
Flow CmdHelp(Command& c) {
  std::string reply = "214-The following commands are recognized:\r\n";
  const std::vector<std::string> words = CommandWords();
  for (size_t i = 0; i < words.size(); i += kHelpWordsPerLine) {
    for (size_t k = i; k < words.size() && k < i + kHelpWordsPerLine; ++k) reply += " " + words[k];
    reply += "\r\n";
  }
  c.Reply((reply + "214 Help OK.\r\n").c_str());
  return Flow::kContinue;
}

Flow CmdSyst(Command& c) {
  c.Reply("215 UNIX Type: L8\r\n");
  return Flow::kContinue;
}

Flow CmdStru(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
  } else if (*c.argument() == "F") {
    c.Reply("200 STRU Command Successful.\r\n");
  } else {
    c.Reply("504 STRU failled. Parametre not implemented\r\n");
  }
  return Flow::kContinue;
}

Flow CmdMode(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
  } else if (*c.argument() == "S") {
    c.Reply("200 Mode set to S.\r\n");
  } else if (*c.argument() == "C") {
    c.Reply("502 MODE non-implemented.\r\n");
  } else {
    c.server.SendFormattedReply(&c.client, "504 \"%s\": Unsupported transfer MODE.\r\n",
                                c.argument()->c_str());
  }
  return Flow::kContinue;
}

// Only the argument's first character counts; lower case is not accepted.
Flow CmdType(Command& c) {
  const std::string* argument = c.argument();
  if (argument == nullptr) {
    c.Reply(kReplyArgumentCount);
  } else if (!argument->empty() && (*argument)[0] == 'A') {
    c.client.transferType = kTypeAscii;
    c.Reply("200 ASCII transfer mode active.\r\n");
  } else if (!argument->empty() && (*argument)[0] == 'I') {
    c.client.transferType = kTypeBinary;
    c.Reply("200 Binary transfer mode active.\r\n");
  } else {
    c.Reply("550 Error - unknown transfer mode.\r\n");
  }
  return Flow::kContinue;
}

// What the server supports, in one reply; the MLST line marks the facts
// that listings show now.
Flow CmdFeat(Command& c) {
  const bool tls = c.server.tlsEnabled();
  const std::string reply = std::string("211-Features:\r\n") + (tls ? " AUTH TLS\r\n" : "") +
                            " EPRT\r\n EPSV\r\n MDTM\r\n MFMT\r\n MLST " +
                            FactNames(c.client.mlstFacts, true) + "\r\n PASV\r\n" +
                            (tls ? " PBSZ\r\n PROT\r\n" : "") +
                            " REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n211 End\r\n";
  c.Reply(reply.c_str());
  return Flow::kContinue;
}

// OPTS UTF8 ON: names pass through as the bytes they are, so UTF-8 is
// always on. OPTS MLST <facts>: the facts that listings show from now on.
Flow CmdOpts(Command& c) {
  const std::string argument = c.argument() != nullptr ? *c.argument() : std::string();
  const size_t blank = argument.find(' ');
  const std::string option = argument.substr(0, blank);
  const std::string value = blank == std::string::npos ? std::string() : argument.substr(blank + 1);
  if (EqualsNoCase(option, "UTF8") && (value.empty() || EqualsNoCase(value, "ON"))) {
    c.Reply("200 UTF8 mode is always on.\r\n");
  } else if (EqualsNoCase(option, "MLST")) {
    c.client.mlstFacts = ParseFactNames(value);
    c.server.SendFormattedReply(&c.client, "200 MLST OPTS %s\r\n",
                                FactNames(c.client.mlstFacts, false).c_str());
  } else {
    c.Reply("501 Option not understood.\r\n");
  }
  return Flow::kContinue;
}

}  // namespace vrax::ftp
