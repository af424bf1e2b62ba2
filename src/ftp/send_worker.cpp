// The RETR worker: sends a file over the data connection.
//
// The file is read in large blocks (one volume call each) and sent in
// pieces. The transfer counts as complete only when every byte from the
// restart offset to the end of the file went out: a read that comes up
// short, a failed send and a data connection closed by ABOR all end in
// "550 Can 't Send File.", never in "226 Transfer complete.".
#include <algorithm>
#include <cstdio>
#include <memory>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"

namespace vrax::ftp {

namespace {

// Sends `size` bytes in pieces; false when the connection failed or was
// closed before all of them went out.
bool SendBlock(const FtpClient* client, const char* data, size_t size) {
  size_t sent = 0;
  while (sent < size) {
    const SocketHandle s = client->dataSocket.load();
    if (s == kInvalidSocket) return false;
    const size_t piece = std::min(kSendPieceBytes, size - sent);
    const long n = SocketSend(s, data + sent, piece);
    if (n <= 0) return false;
    if (static_cast<size_t>(n) < piece) {
      std::fprintf(stderr, "short send %d not %d\n", static_cast<int>(n), static_cast<int>(piece));
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Sends the open file from its position; true when all `expected` bytes
// were read and sent.
bool SendOpenFile(const FtpClient* client, VRAX_FILE* file, uint64_t expected) {
  auto buffer = std::make_unique_for_overwrite<char[]>(kSendBlockBytes);
  uint64_t total = 0;
  for (;;) {
    const size_t got = VRAX_fread(buffer.get(), 1, kSendBlockBytes, file);
    if (got == 0) break;
    if (!SendBlock(client, buffer.get(), got)) return false;
    total += got;
  }
  return total == expected;
}

}  // namespace

void CFtpServer::SendFileThread(FtpClient* client, TransferJob job) {
  if (client == nullptr) return;
  bool failed = true;
  struct stat record;
  VRAX_FILE* file = VRAX_stat64(job.path.c_str(), &record) == 0
                        ? VRAX_fopen64(job.path.c_str(), "rb")
                        : nullptr;
  if (file != nullptr) {
    const bool positioned = job.restartOffset == 0 ||
                            (job.restartOffset > 0 && VRAX_fseeko64(file, job.restartOffset, SEEK_SET) == 0);
    if (positioned) {
      if (job.type == kTypeAscii) std::fprintf(stderr, "ASCII mode not supported - using BINARY\n");
      const int64_t size = static_cast<int64_t>(record.st_size);
      const uint64_t expected = size > job.restartOffset ? static_cast<uint64_t>(size - job.restartOffset) : 0;
      failed = !SendOpenFile(client, file, expected);
    }
    VRAX_fclose(file);
  }
  CloseSocket(&client->dataSocket);
  // Idle before the final reply: a client may send its next data command as
  // soon as it reads the reply, and must not be told it is still connected.
  client->transferState = kIdle;
  if (client->controlSocket.load() != kInvalidSocket) {
    SendReply(client, failed ? "550 Can 't Send File.\r\n" : "226 Transfer complete.\r\n");
  }
}

}  // namespace vrax::ftp
