// Commands that only answer or set a transfer parameter.
#include "ftp/command.h"

namespace vrax::ftp {

Flow CmdNoop(Command& c) {
  c.Reply("200 NOOP Command Successful.\r\n");
  return Flow::kContinue;
}

Flow CmdAllo(Command& c) {
  c.Reply("200 ALLO Command Successful.\r\n");
  return Flow::kContinue;
}

Flow CmdHelp(Command& c) {
  c.Reply("500 No Help Available.\r\n");
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

Flow CmdFeat(Command& c) {
  c.Reply("211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n");
  return Flow::kContinue;
}

}  // namespace vrax::ftp
