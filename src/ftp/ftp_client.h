// The state of one control connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ftp/line_reader.h"
#include "platform/sockets.h"
#include "platform/tls.h"

namespace vrax::ftp {

class CFtpServer;
struct FtpUser;

enum DataMode : int32_t { kDataNone = 0, kDataPassive = 1, kDataActive = 2 };
enum TransferState : int32_t { kIdle = 0, kListing = 1, kReceiving = 2, kSending = 3 };
enum TransferType : uint8_t { kTypeAscii = 0, kTypeBinary = 1 };
// The facts of MLST and MLSD lines.
enum MlstFact : uint8_t {
  kFactType = 1,
  kFactSize = 2,
  kFactModify = 4,
  kFactPerm = 8,
  kAllFacts = kFactType | kFactSize | kFactModify | kFactPerm,
};

// What a transfer worker needs, handed to it by value when it starts, so a
// worker that is still finishing never shares anything with the session's
// next command but the sockets and the transfer state.
struct TransferJob {
  int64_t restartOffset = 0;
  std::string path;              // full volume path, at most kMaxPath characters
  uint8_t type = kTypeBinary;
  bool targetExisted = false;    // uploads: the path named a file before the transfer
};

// Threads: the session thread owns every plain field; the transfer worker
// reads only its TransferJob and touches the client through the atomic
// fields and the server's socket operations. The account pointer and the
// login flags change under the server's list lock, where account deletion
// reads them.
struct FtpClient {
  std::atomic<uint8_t> finished{0};
  std::atomic<SocketHandle> dataSocket{kInvalidSocket};
  NetAddress localAddress;       // server end of the control connection
  NetAddress peerAddress;        // client end; data connections deal with it alone
  uint16_t dataPort = 0;         // PORT/EPRT: the client's port; PASV/EPSV: the port listened on
  // The port a passive listener of this session listens on, 0 when none;
  // read by other sessions (PORT must not name the server's own ports).
  std::atomic<uint16_t> passivePort{0};
  bool epsvAll = false;          // after EPSV ALL only EPSV sets up data connections
  uint8_t mlstFacts = kAllFacts; // the facts MLST and MLSD show (OPTS MLST)
  uint8_t transferType = kTypeBinary;
  int64_t restartOffset = 0;     // REST; handed to the next transfer and cleared
  std::thread transferThread;    // joined only by the session thread
  FtpUser* account = nullptr;
  std::atomic<SocketHandle> controlSocket{kInvalidSocket};
  uint8_t loggedIn = 0;
  uint8_t noPassword = 0;        // anonymous login: PASS needs no password
  int32_t failedLogins = 0;      // wrong passwords in this session
  int32_t dataMode = kDataNone;
  std::atomic<int32_t> transferState{kIdle};
  std::optional<std::string> renameSource;
  std::string currentDirectory = "/";
  LineReader commands;           // the control connection's command lines
  std::thread sessionThread;
  CFtpServer* server = nullptr;
  // Sockets shut down while another thread may still be using them; their
  // descriptors are released once no thread can (socket lock).
  std::vector<SocketHandle> retiredSockets;
  // TLS after AUTH TLS. The control stream is set by the session while no
  // worker runs; its calls are serialised by controlTlsLock, as the session
  // reads while a worker sends its final reply. The data stream belongs to
  // whoever uses the data socket (the session, or the running worker).
  std::unique_ptr<TlsStream> controlTls;
  std::mutex controlTlsLock;
  std::unique_ptr<TlsStream> dataTls;
  std::atomic<bool> protectData{false};  // PROT P: data connections use TLS too
};

}  // namespace vrax::ftp
