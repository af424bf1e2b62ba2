// PASV and EPSV: the server listens on a data port of the address the
// client reached it at, and the client connects to it.
//
// PASV announces an IPv4 address, so it serves IPv4 clients only (those
// that reached an IPv6 socket included); EPSV announces only the port and
// serves both. After EPSV ALL the client has promised to use EPSV alone.
#include <strings.h>

#include "ftp/data_connection.h"
#include "ftp/ftp_server.h"
#include "ftp/replies.h"

namespace vrax::ftp {

namespace {

enum class EpsvArgument { kOpen, kAll, kOtherFamily, kBad };

// None, "1" (IPv4) or "2" (IPv6) of the control connection's family, or ALL.
EpsvArgument ReadEpsvArgument(const std::string* argument, bool ipv6) {
  if (argument == nullptr || argument->empty()) return EpsvArgument::kOpen;
  if (strcasecmp(argument->c_str(), "ALL") == 0) return EpsvArgument::kAll;
  if (*argument == "1") return ipv6 ? EpsvArgument::kOtherFamily : EpsvArgument::kOpen;
  if (*argument == "2") return ipv6 ? EpsvArgument::kOpen : EpsvArgument::kOtherFamily;
  return EpsvArgument::kBad;
}

}  // namespace

bool CFtpServer::BindPassivePort(FtpClient* client, SocketHandle s) {
  for (int32_t attempt = 0; attempt < dataPortCount_; ++attempt) {
    if (!BindDataSocket(s, client->localAddress, firstDataPort_, dataPortCount_,
                        &client->dataPort)) {
      return false;
    }
    if (SocketListen(s, kPassiveBacklog)) {
      // Non-blocking, so that taking a connection never waits unbounded.
      client->passivePort = client->dataPort;
      return SocketSetNonBlocking(s, true);
    }
    // Another socket took the port between bind and listen: start afresh.
    CloseSocket(&client->dataSocket);
    s = SocketOpenTcp(client->localAddress.ipv6);
    if (s == kInvalidSocket || !StoreDataSocket(client, s, socketLock_)) return false;
  }
  return false;
}

CFtpServer::PassiveOpen CFtpServer::OpenPassiveListener(FtpClient* client) {
  AwaitTransferWorker(client);
  DropDataSocket(client);
  client->dataMode = kDataNone;
  const SocketHandle s = SocketOpenTcp(client->localAddress.ipv6);
  if (s == kInvalidSocket || !StoreDataSocket(client, s, socketLock_)) return PassiveOpen::kNoSocket;
  if (BindPassivePort(client, s)) return PassiveOpen::kOpened;
  DropDataSocket(client);
  SendReply(client, "451 Internal error - No more data port available.\r\n");
  EndSession(client);
  return PassiveOpen::kNoPort;
}

bool CFtpServer::EnterPassiveMode(FtpClient* client) {
  if (client->epsvAll) {
    SendReply(client, kReplyEpsvAllOnly);
    return true;
  }
  if (client->transferState != kIdle) {
    SendReply(client, kReplyAlreadyConnected);
    return true;
  }
  if (client->localAddress.ipv6) {
    SendReply(client, "425 PASV needs an IPv4 connection; use EPSV.\r\n");
    return true;
  }
  const PassiveOpen opened = OpenPassiveListener(client);
  if (opened != PassiveOpen::kOpened) return opened != PassiveOpen::kNoPort;
  const uint8_t* a = client->localAddress.bytes;
  SendFormattedReply(client, "227 Entering Passive Mode (%u,%u,%u,%u,%u,%u).\r\n", a[0], a[1],
                     a[2], a[3], client->dataPort / 256u, client->dataPort % 256u);
  client->dataMode = kDataPassive;
  return true;
}

bool CFtpServer::EnterExtendedPassiveMode(FtpClient* client, const std::string* argument) {
  switch (ReadEpsvArgument(argument, client->localAddress.ipv6)) {
    case EpsvArgument::kAll:
      client->epsvAll = true;
      SendReply(client, "200 EPSV ALL command successful.\r\n");
      return true;
    case EpsvArgument::kOtherFamily:
      SendFormattedReply(client, "522 Network protocol not supported, use (%d)\r\n",
                         client->localAddress.ipv6 ? 2 : 1);
      return true;
    case EpsvArgument::kBad:
      SendReply(client, kReplySyntax);
      return true;
    case EpsvArgument::kOpen:
      break;
  }
  if (client->transferState != kIdle) {
    SendReply(client, kReplyAlreadyConnected);
    return true;
  }
  const PassiveOpen opened = OpenPassiveListener(client);
  if (opened != PassiveOpen::kOpened) return opened != PassiveOpen::kNoPort;
  SendFormattedReply(client, "229 Entering Extended Passive Mode (|||%u|)\r\n", client->dataPort);
  client->dataMode = kDataPassive;
  return true;
}

}  // namespace vrax::ftp
