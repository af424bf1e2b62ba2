// AUTH, PBSZ, PROT and CCC: protecting the connections with TLS.
//
// AUTH TLS (also named TLS-C or SSL by older clients) turns the control
// connection into TLS; it may come before or after login. PBSZ takes 0,
// the only size a stream protocol has. PROT P protects every later data
// connection, PROT C leaves them in the clear; S and E do not exist for
// TLS. CCC, going back to a clear control connection, is refused: a
// protected session stays protected.
#include <strings.h>

#include "ftp/command.h"

namespace vrax::ftp {

namespace {

bool IsOneOf(const std::string& word, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (strcasecmp(word.c_str(), name) == 0) return true;
  }
  return false;
}

// PBSZ and PROT mean something only on a protected control connection.
bool NeedsTls(Command& c) {
  if (c.client.controlTls != nullptr) return true;
  c.Reply("503 Protect the control connection first (AUTH TLS).\r\n");
  return false;
}

}  // namespace

Flow CmdAuth(Command& c) {
  if (!c.server.tlsEnabled()) {
    c.Reply("502 TLS is not offered by this server.\r\n");
  } else if (c.argument() == nullptr || !IsOneOf(*c.argument(), {"TLS", "TLS-C", "SSL"})) {
    c.Reply("504 Unknown AUTH type.\r\n");
  } else if (c.client.controlTls != nullptr) {
    c.Reply("503 The connection is already protected.\r\n");
  } else if (c.client.transferState != kIdle) {
    c.Reply(kReplyAlreadyConnected);
  } else if (!c.server.StartTls(&c.client)) {
    return Flow::kEndSession;
  }
  return Flow::kContinue;
}

Flow CmdPbsz(Command& c) {
  if (!NeedsTls(c)) return Flow::kContinue;
  if (c.argument() == nullptr) {
    c.Reply(kReplyArgumentCount);
  } else {
    c.Reply("200 PBSZ=0\r\n");
  }
  return Flow::kContinue;
}

Flow CmdProt(Command& c) {
  if (!NeedsTls(c)) return Flow::kContinue;
  const std::string level = c.argument() != nullptr ? *c.argument() : std::string();
  if (IsOneOf(level, {"P", "C"})) {
    c.client.protectData = IsOneOf(level, {"P"});
    c.Reply(c.client.protectData ? "200 PROT now Private.\r\n" : "200 PROT now Clear.\r\n");
  } else if (IsOneOf(level, {"S", "E"})) {
    c.Reply("536 Only PROT C and PROT P are supported.\r\n");
  } else {
    c.Reply("504 Unknown PROT level.\r\n");
  }
  return Flow::kContinue;
}

Flow CmdCcc(Command& c) {
  c.Reply("534 The control connection stays protected.\r\n");
  return Flow::kContinue;
}

}  // namespace vrax::ftp
