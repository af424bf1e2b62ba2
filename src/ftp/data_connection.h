// Helpers that the passive and active modes share.
#pragma once

#include <cstdint>
#include <mutex>

#include "ftp/ftp_client.h"
#include "platform/sockets.h"

namespace vrax::ftp {

// The reply to PORT, PASV and EPRT after EPSV ALL.
inline constexpr const char* kReplyEpsvAllOnly = "503 Only EPSV is accepted after EPSV ALL.\r\n";

// Binds to a port of the range, tried up to `count` times, or to a port the
// kernel chooses when the range needs privileges. Stores the port bound.
bool BindDataSocket(SocketHandle s, const NetAddress& address, uint16_t first, int32_t count,
                    uint16_t* port);

// Puts a freshly made socket into the client's data socket, unless the
// session was ended meanwhile (then the socket is closed and false returned).
bool StoreDataSocket(FtpClient* client, SocketHandle s, std::recursive_mutex& lock);

}  // namespace vrax::ftp
