// PORT and EPRT: the client names a port of its own, and the server will
// connect to it.
//
// The address given is only checked: it must be the control connection's
// peer (compared in plain form, so an IPv4 client that reached an IPv6
// socket names its IPv4 address), except that a control connection from
// 127.0.0.1 may name any. The unspecified address (EPRT "::", which clients
// send when their data socket listens on every address) stands for the
// peer itself. The data connection always goes to the peer.
#include "ftp/data_connection.h"
#include "ftp/ftp_server.h"
#include "ftp/port_argument.h"

namespace vrax::ftp {

namespace {

bool NamesThePeer(const FtpClient* client, const NetAddress& named) {
  return named == client->peerAddress || named == AnyAddress(named.ipv6) ||
         client->peerAddress == Ipv4Address(127, 0, 0, 1);
}

}  // namespace

// Both commands, once their argument is read: `named` and `port`, or
// nothing when the argument was not valid.
void CFtpServer::SetActiveTarget(FtpClient* client, const NetAddress& named, uint16_t port,
                                 const char* mismatch, const char* success) {
  AwaitTransferWorker(client);
  CloseSocket(&client->dataSocket);
  client->dataMode = kDataNone;
  if (!NamesThePeer(client, named)) {
    SendReply(client, mismatch);
    return;
  }
  client->dataMode = kDataActive;
  client->dataPort = port;
  SendReply(client, success);
}

void CFtpServer::EnterActiveMode(FtpClient* client, const std::string* argument) {
  if (client->epsvAll) {
    SendReply(client, kReplyEpsvAllOnly);
    return;
  }
  PortArgument port;
  if (client->transferState != kIdle || argument == nullptr ||
      !ParsePortArgument(*argument, port)) {
    SendReply(client, "501 Syntax error in arguments.\r\n");
    return;
  }
  const uint32_t* n = port.numbers;
  SetActiveTarget(client,
                  Ipv4Address(static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]),
                              static_cast<uint8_t>(n[2]), static_cast<uint8_t>(n[3])),
                  port.Port(), "501 PORT address does not match originator.\r\n",
                  "200 PORT command successful.\r\n");
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
    SendReply(client, "501 Syntax error in arguments.\r\n");
  } else {
    SetActiveTarget(client, target.address, target.port,
                    "501 EPRT address does not match originator.\r\n",
                    "200 EPRT command successful.\r\n");
  }
}

}  // namespace vrax::ftp
