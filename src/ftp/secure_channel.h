// Bytes on a data connection, in TLS when it is protected (PROT P).
#pragma once

#include <cstddef>

#include "ftp/ftp_client.h"

namespace vrax::ftp {

// A protected data connection whose handshake failed (after "150").
inline constexpr const char* kReplyDataTlsFailed = "425 TLS negotiation on the data connection failed.\r\n";

// Sends all `size` bytes; false when the connection failed or was closed.
bool SendData(const FtpClient* client, const void* data, size_t size);
// As SendData; a failure shuts the connection down, so the sends after it
// fail at once instead of each waiting out the send timeout.
bool SendDataOrShut(const FtpClient* client, const void* data, size_t size);
// One receive: a count, 0 at the end of the data, -1 on an error or when
// the connection was closed.
long ReceiveData(const FtpClient* client, void* buffer, size_t size);

}  // namespace vrax::ftp
