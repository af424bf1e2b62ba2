// The RETR worker: sends a file over the data connection.
//
// The file is read in large blocks (one volume call each), each handed to
// the data connection whole. The transfer counts as complete only when
// every byte from the restart offset to the end of the file went out: a
// read that comes up short, a failed send and a data connection closed by
// ABOR all end in "550 Can 't Send File.", never in "226 Transfer
// complete.".
#include <cstdio>
#include <memory>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "ftp/secure_channel.h"

namespace vrax::ftp {

namespace {

// Sends the open file from its position; true when all `expected` bytes
// were read and sent.
bool SendOpenFile(const FtpClient* client, VRAX_FILE* file, uint64_t expected) {
  auto buffer = std::make_unique_for_overwrite<char[]>(kSendBlockBytes);
  uint64_t total = 0;
  for (;;) {
    const size_t got = VRAX_fread(buffer.get(), 1, kSendBlockBytes, file);
    if (got == 0) break;
    if (!SendData(client, buffer.get(), got)) return false;
    total += got;
  }
  return total == expected;
}

}  // namespace

void CFtpServer::SendFileThread(FtpClient* client, TransferJob job) {
  if (client == nullptr) return;
  bool failed = true;
  const bool protectedOk = ProtectDataConnection(client);
  struct stat record;
  VRAX_FILE* file = protectedOk && VRAX_stat64(job.path.c_str(), &record) == 0
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
  CloseDataConnection(client);
  // Idle before the final reply: a client may send its next data command as
  // soon as it reads the reply, and must not be told it is still connected.
  client->transferState = kIdle;
  if (client->controlSocket.load() != kInvalidSocket) {
    const char* reply = failed ? "550 Can 't Send File.\r\n" : "226 Transfer complete.\r\n";
    SendReply(client, protectedOk ? reply : kReplyDataTlsFailed);
  }
}

}  // namespace vrax::ftp
