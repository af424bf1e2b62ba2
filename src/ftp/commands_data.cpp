// Commands that use a data connection; the work is the server's.
#include <cstdlib>

#include "ftp/command.h"

namespace vrax::ftp {

Flow CmdPort(Command& c) {
  c.server.EnterActiveMode(&c.client, c.argument());
  return Flow::kContinue;
}

Flow CmdPasv(Command& c) {
  return c.server.EnterPassiveMode(&c.client) ? Flow::kContinue : Flow::kEndSession;
}

Flow CmdEprt(Command& c) {
  c.server.EnterExtendedActiveMode(&c.client, c.argument());
  return Flow::kContinue;
}

Flow CmdEpsv(Command& c) {
  return c.server.EnterExtendedPassiveMode(&c.client, c.argument()) ? Flow::kContinue
                                                                     : Flow::kEndSession;
}

Flow CmdList(Command& c) {
  c.server.ListDirectory(&c.client, c.argument(), "LIST");
  return Flow::kContinue;
}

Flow CmdNlst(Command& c) {
  c.server.ListDirectory(&c.client, c.argument(), "NLST");
  return Flow::kContinue;
}

Flow CmdMlsd(Command& c) {
  c.server.MachineListDirectory(&c.client, c.argument());
  return Flow::kContinue;
}

Flow CmdAbor(Command& c) {
  c.server.AbortTransfer(&c.client);
  return Flow::kContinue;
}

// The offset: leading digits after an optional sign, 0 when there are none.
Flow CmdRest(Command& c) {
  if (c.argument() == nullptr || c.client.transferState != kIdle) {
    c.Reply(kReplySyntax);
    return Flow::kContinue;
  }
  c.client.restartOffset = std::strtoll(c.argument()->c_str(), nullptr, 10);
  c.Reply("350 REST command successful.\r\n");
  return Flow::kContinue;
}

Flow CmdRetr(Command& c) {
  c.server.RetrieveFile(&c.client, c.argument());
  return Flow::kContinue;
}

Flow CmdStor(Command& c) {
  c.server.StoreFile(&c.client, c.argument(), "STOR");
  return Flow::kContinue;
}

Flow CmdAppe(Command& c) {
  c.server.StoreFile(&c.client, c.argument(), "APPE");
  return Flow::kContinue;
}

Flow CmdStou(Command& c) {
  c.server.StoreFile(&c.client, c.argument(), "STOU");
  return Flow::kContinue;
}

}  // namespace vrax::ftp
