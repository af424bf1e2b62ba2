// The session thread of one control connection: greeting, then one command
// line after another until the client quits or the connection ends.
#include "ftp/command.h"
#include "ftp/line_reader.h"
#include "platform/threads.h"

namespace vrax::ftp {

void CFtpServer::RunSession(FtpClient* client) {
  SendReply(client, "220 Corvane Ftp Server.\r\n");
  client->transferState = kIdle;
  LineReader reader;
  const LineReader::Receive receive = [client](char* buffer, size_t size) {
    return SocketReceive(client->controlSocket.load(), buffer, size);
  };
  std::string line;
  while (reader.Next(receive, line) == LineReader::Result::kLine) {
    StripTelnetCommands(line);
    Command command{*this, *client, ParseCommandLine(line)};
    if (Dispatch(command) == Flow::kEndSession) break;
  }
  // Ending the session wakes a running transfer worker, which ends soon;
  // after it, no thread uses the client's sockets any more.
  EndSession(client);
  JoinThread(client->transferThread);
  CloseRetiredSockets(client);
}

}  // namespace vrax::ftp
