// Every size, count and time limit of the FTP server, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "volume/format/file_name.h"

namespace vrax::ftp {

// Control connection.
constexpr uint16_t kDefaultControlPort = 21;
// listen() backlog of the control socket: room for a burst of clients, whose
// handshakes would otherwise be dropped and retried a second or more later.
constexpr int kControlBacklog = 128;
// Pause before accepting again when the process ran out of descriptors.
constexpr int kAcceptRetryMilliseconds = 100;
// The accept thread wakes at least this often to free ended sessions.
constexpr int kSweepMilliseconds = 1000;
// Most simultaneous control connections, in all and from one address; a
// connection beyond either is told so and closed at once.
constexpr int32_t kDefaultMaxConnections = 200;
constexpr int32_t kDefaultMaxPerAddress = 32;
// A control connection idle this long is closed (421). The same time bounds
// a data connection that makes no progress, and a reply nobody reads.
constexpr int kDefaultIdleSeconds = 300;
// Failed passwords: each is answered only after this pause (which other
// sessions never wait for), and this many end the session.
constexpr int kLoginFailurePauseMilliseconds = 1000;
constexpr int kMaxLoginFailures = 3;
// The pause above is slept in slices, so that an ended session stops at once.
constexpr int kPauseSliceMilliseconds = 50;
constexpr size_t kLineBufferSize = 320;    // the session's line buffer
constexpr size_t kMaxLineBytes = 276;      // a command line and its terminator must fit
constexpr size_t kReplyBufferSize = 4096;  // a formatted reply is cut to this size
constexpr size_t kHelpWordsPerLine = 8;    // HELP lists the command words this many to a line

// Paths: a built volume path, the current directory and the transfer path
// hold at most this many characters.
constexpr size_t kMaxPath = 260;
// Volume names are 1 to 28 characters.
constexpr size_t kMaxVolumeName = vrax::kMaxNameLength;
// A listing's directory path, and its full path: directory, "/", a name.
constexpr size_t kDirWalkDirectoryChars = kMaxPath;
constexpr size_t kDirWalkFullPathChars = kMaxPath + 1 + kMaxVolumeName;

// Data connections.
constexpr uint16_t kDefaultFirstDataPort = 100;
constexpr int32_t kDefaultDataPortCount = 900;
constexpr int kPassiveBacklog = 1;
// A data connection not made within this time is given up (425).
constexpr int kDefaultDataConnectSeconds = 30;
// PORT and EPRT: the client's data port must not be a privileged one.
constexpr uint16_t kFirstActivePort = 1024;

// Transfers.
// The one buffer a transfer holds: a stalled transfer must not pin much memory.
constexpr size_t kSendBlockBytes = 256u * 1024;      // one file read per block
constexpr size_t kReceiveBufferBytes = 256u * 1024;  // written when nearly full
constexpr size_t kReceivePieceBytes = 64u * 1024;     // at most this much per receive
constexpr size_t kListBlockBytes = 64u * 1024;        // listing lines sent per block
// STOU draws names "file.N" until one is free; it gives up after this many.
constexpr int kMaxUniqueNameTries = 1000;

// Listings: a modification time at most this long ago shows its time of day,
// an older one its year (180 days).
constexpr int64_t kRecentSeconds = 15552000;

// Account privilege bits.
constexpr uint8_t kPrivDownload = 0x01;
constexpr uint8_t kPrivUpload = 0x02;
constexpr uint8_t kPrivDeleteRename = 0x04;
constexpr uint8_t kPrivList = 0x08;
constexpr uint8_t kPrivMakeDir = 0x10;
constexpr uint8_t kPrivRemoveDir = 0x20;
constexpr uint8_t kPrivAll = 0x3f;
constexpr uint8_t kPrivForbidden = 0xc0;  // never granted
constexpr uint8_t kPrivAnonymous = kPrivDownload | kPrivList;

}  // namespace vrax::ftp
