// PORT and EPRT: the client names a port of its own, and the server will
// connect to it.
//
// The address given is only checked: it must be the control connection's
// peer (compared in plain form, so an IPv4 client that reached an IPv6
// socket names its IPv4 address), except that a control connection from
// 127.0.0.1 may name any. The unspecified address (EPRT "::", which clients
// send when their data socket listens on every address) stands for the
// peer itself. The data connection always goes to the peer, and never to a
// privileged port or to a port the server itself listens on: the server
// must not be made to talk to another service, or to itself.
#include "ftp/data_connection.h"
#include "ftp/ftp_server.h"
#include "ftp/replies.h"
#include "ftp/port_argument.h"

namespace vrax::ftp {

namespace {

bool NamesThePeer(const FtpClient* client, const NetAddress& named) {
  return named == client->peerAddress || named == AnyAddress(named.ipv6) ||
         client->peerAddress == Ipv4Address(127, 0, 0, 1);
}

}  // namespace

// Both commands (`verb`), once their argument is read.
void CFtpServer::SetActiveTarget(FtpClient* client, const NetAddress& named, uint16_t port,
                                 const char* verb) {
  AwaitTransferWorker(client);
  DropDataSocket(client);
  client->dataMode = kDataNone;
  if (!NamesThePeer(client, named)) {
    SendFormattedReply(client, "501 %s address does not match originator.\r\n", verb);
    return;
  }
  if (port < kFirstActivePort || IsOwnListeningPort(port)) {
    SendFormattedReply(client, "500 Illegal %s command.\r\n", verb);
    return;
  }
  client->dataMode = kDataActive;
  client->dataPort = port;
  SendFormattedReply(client, "200 %s command successful.\r\n", verb);
}

void CFtpServer::EnterActiveMode(FtpClient* client, const std::string* argument) {
  if (client->epsvAll) {
    SendReply(client, kReplyEpsvAllOnly);
    return;
  }
  PortArgument port;
  if (client->transferState != kIdle || argument == nullptr ||
      !ParsePortArgument(*argument, port)) {
    SendReply(client, kReplySyntax);
    return;
  }
  const uint32_t* n = port.numbers;
  SetActiveTarget(client,
                  Ipv4Address(static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]),
                              static_cast<uint8_t>(n[2]), static_cast<uint8_t>(n[3])),
                  port.Port(), "PORT");
}

void CFtpServer::EnterExtendedActiveMode(FtpClient* client, const std::string* argument) {
  if (client->epsvAll) {
    SendReply(client, kReplyEpsvAllOnly);
    return;
  }
  ExtendedPortArgument target;
  const ExtendedPortResult result = argument == nullptr || client->transferState != kIdle
                                        ? ExtendedPortResult::kBad
                                        : ParseExtendedPortArgument(*argument, target);
  if (result == ExtendedPortResult::kUnknownFamily) {
    SendReply(client, "522 Network protocol not supported, use (1,2)\r\n");
  } else if (result == ExtendedPortResult::kBad) {
    SendReply(client, kReplySyntax);
  } else {
    SetActiveTarget(client, target.address, target.port, "EPRT");
  }
}

}  // namespace vrax::ftp
