// QUIT, USER, PASS and REIN.
#include "ftp/command.h"

namespace vrax::ftp {

Flow CmdQuit(Command& c) {
  c.Reply("221 Goodbye.\r\n");
  return Flow::kEndSession;
}

Flow CmdUser(Command& c) {
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
  } else if (c.server.tlsRequired() && c.client.controlTls == nullptr) {
    c.Reply("530 Logins need a protected connection: send AUTH TLS first.\r\n");
  } else {
    c.server.LoginUser(&c.client, *c.argument());
  }
  return Flow::kContinue;
}

Flow CmdPass(Command& c) {
  return c.server.LoginPassword(&c.client, c.argument()) ? Flow::kContinue : Flow::kEndSession;
}

Flow CmdRein(Command& c) {
  c.server.Reinitialize(&c.client);
  return Flow::kContinue;
}

}  // namespace vrax::ftp
