// The session thread of one control connection: greeting, then one command
// line after another until the client quits, the connection ends or stays
// idle too long.
#include "ftp/command.h"
#include "ftp/line_reader.h"
#include "platform/threads.h"

namespace vrax::ftp {

// A session is idle only while no transfer runs: a client waits quietly for
// the end of a long transfer, and the transfer has its own bound.
long CFtpServer::ReceiveCommandBytes(FtpClient* client, char* buffer, size_t size) {
  for (;;) {
    if (!ControlPending(client)) {
      const SocketHandle s = client->controlSocket.load();
      const SocketReadiness readiness = SocketWait(s, false, kInvalidSocket, idleSeconds_ * 1000);
      if (readiness.failed) return -1;
      if (!readiness.ready) {
        if (client->transferState != kIdle) continue;
        SendReply(client, "421 Timeout.\r\n");
        return -1;
      }
    }
    const long n = ReceiveControl(client, buffer, size);
    if (n != TlsStream::kWouldBlock) return n;
  }
}

void CFtpServer::RunSession(FtpClient* client) {
  SocketSetIoTimeout(client->controlSocket.load(), idleSeconds_);
  SendReply(client, "220 Corvane Ftp Server.\r\n");
  client->transferState = kIdle;
  const LineReader::Receive receive = [this, client](char* buffer, size_t size) {
    return ReceiveCommandBytes(client, buffer, size);
  };
  std::string line;
  while (client->commands.Next(receive, line) == LineReader::Result::kLine) {
    StripTelnetCommands(line);
    Command command{*this, *client, ParseCommandLine(line)};
    if (Dispatch(command) == Flow::kEndSession) break;
  }
  // Ending the session wakes a running transfer worker, which ends soon;
  // after it, no thread uses the client's sockets any more.
  EndSession(client);
  JoinThread(client->transferThread);
  client->dataTls.reset();
  CloseRetiredSockets(client);
}

}  // namespace vrax::ftp
