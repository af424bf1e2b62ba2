// Waiting for a data connection without losing the control connection.
//
// The wait runs on the session thread, so the commands a client sends
// meanwhile are taken into the session's line buffer (never lost: the
// session handles them in order afterwards). ABOR and QUIT, and the end of
// the control connection, end the wait at once; so does the end of the
// session (its sockets are shut down) and the deadline.
#include <chrono>

#include "ftp/command_line.h"
#include "ftp/ftp_server.h"

namespace vrax::ftp {

namespace {

bool EndsTheWait(const std::string& text) {
  std::string line = text;
  StripTelnetCommands(line);
  const std::string word = ParseCommandLine(line).word;
  return word == "ABOR" || word == "QUIT";
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

}  // namespace

CFtpServer::DataWait CFtpServer::AwaitDataSocket(FtpClient* client, bool forWrite) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(dataConnectSeconds_);
  const LineReader::Receive receive = [this, client](char* buffer, size_t size) {
    return ReceiveControl(client, buffer, size);
  };
  for (;;) {
    if (client->finished || client->commands.AnyLine(EndsTheWait)) return DataWait::kInterrupted;
    if (ControlPending(client) && !client->commands.full()) {
      if (!client->commands.Fill(receive)) return DataWait::kInterrupted;
      continue;
    }
    const int left = MillisecondsUntil(deadline);
    if (left == 0) return DataWait::kTimedOut;
    // A full line buffer is not watched: the session reads it after the wait.
    const SocketHandle watch =
        client->commands.full() ? kInvalidSocket : client->controlSocket.load();
    const SocketReadiness readiness = SocketWait(client->dataSocket.load(), forWrite, watch, left);
    if (readiness.failed) return DataWait::kInterrupted;
    if (readiness.ready) return DataWait::kReady;
    if (readiness.watched && !client->commands.Fill(receive)) return DataWait::kInterrupted;
  }
}

}  // namespace vrax::ftp
