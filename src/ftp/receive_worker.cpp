// The STOR, APPE and STOU worker: writes what arrives on the data
// connection to a file.
//
// An upload succeeds only when the client closed the data connection in
// order: a receive error, ABOR (which shuts the socket down under the
// worker) or a short write to the volume make it fail. A failed upload
// removes the file only when this upload created it or truncated it; an
// append or a resumed upload keeps what stood in the file before. A full
// volume is answered with 452, and its partial file handled as above.
#include <cstdio>
#include <memory>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "ftp/secure_channel.h"
#include "ftp/refusals.h"

namespace vrax::ftp {

namespace {

struct ReceiveOutcome {
  bool failed = false;
  bool orderlyEnd = false;  // the client closed the data connection
  int32_t error = 0;        // the volume's error when a write failed
};

// Receives until the connection ends, writing whenever the buffer is
// nearly full or receiving pauses.
ReceiveOutcome ReceiveIntoFile(const FtpClient* client, VRAX_FILE* file) {
  auto buffer = std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes);
  ReceiveOutcome outcome;
  long last = 0;
  SocketHandle s = kInvalidSocket;
  do {
    size_t filled = 0;
    while ((s = client->dataSocket.load()) != kInvalidSocket) {
      last = ReceiveData(client, buffer.get() + filled, kReceivePieceBytes);
      if (last <= 0) break;
      filled += static_cast<size_t>(last);
      if (kReceiveBufferBytes - filled < kReceivePieceBytes) break;
    }
    if (filled > 0 && VRAX_fwrite(buffer.get(), 1, filled, file) < filled) {
      outcome.failed = true;
      outcome.error = VRAX_LastError();
    }
  } while (last > 0 && !outcome.failed && s != kInvalidSocket);
  // A socket shut down by ABOR or the end of the session also reads as 0:
  // the end is orderly only if the socket is still the transfer's own.
  outcome.orderlyEnd = last == 0 && s != kInvalidSocket && client->dataSocket.load() == s;
  return outcome;
}

// A full volume or a name the volume cannot hold is told as such; any other
// failure keeps the general reply.
std::string FinalReply(bool failed, int32_t error, const std::string& path) {
  if (!failed) return "226 Transfer complete.\r\n";
  const std::optional<std::string> refusal = error != 0 ? ChangeRefusal(error, LastComponent(path))
                                                        : std::nullopt;
  return refusal ? *refusal : "550 Can 't receive file.\r\n";
}

}  // namespace

void CFtpServer::ReceiveFileThread(FtpClient* client, TransferJob job) {
  if (client == nullptr) return;
  const bool appending = job.restartOffset > 0;
  bool failed = true;
  bool opened = false;
  ReceiveOutcome outcome;
  const bool protectedOk = ProtectDataConnection(client);
  if (protectedOk && job.restartOffset >= 0) {
    // Deferred durability: the pieces are not each waited for; closing the
    // file makes data and records durable, so "226" always means stored.
    VRAX_FILE* file = VRAX_fopen64(job.path.c_str(), appending ? "abd" : "wbd");
    opened = file != nullptr;
    if (!opened) outcome.error = VRAX_LastError();
    if (opened) {
      if (!appending || VRAX_fseeko64(file, job.restartOffset, SEEK_SET) == 0) {
        if (job.type == kTypeAscii) std::fprintf(stderr, "ASCII mode not supported - using BINARY\n");
        outcome = ReceiveIntoFile(client, file);
        failed = outcome.failed || !outcome.orderlyEnd;
      }
      if (VRAX_fclose(file) != 0) failed = true;
    }
  }
  CloseDataConnection(client);
  if (failed && opened && (!appending || !job.targetExisted)) VRAX_remove(job.path.c_str(), 1);
  // Idle before the final reply (see SendFileThread).
  client->transferState = kIdle;
  if (client->controlSocket.load() != kInvalidSocket) {
    SendReply(client, protectedOk ? FinalReply(failed, outcome.error, job.path).c_str()
                                  : kReplyDataTlsFailed);
  }
}

}  // namespace vrax::ftp
