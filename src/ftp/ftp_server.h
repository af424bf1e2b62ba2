// The FTP server: configuration, accounts, the connected clients, the
// listening socket and the accept thread, and the operations that every
// part of the server shares.
//
// Locks, outermost first: the list lock (client list, user list, counts,
// account operations and the login state of clients) before the socket lock
// (closing and replacing socket handles), before the file interface's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp_client.h"
#include "ftp/ftp_limits.h"
#include "ftp/ftp_user.h"
#include "platform/sockets.h"

namespace vrax::ftp {

class CFtpServer {
 public:
  CFtpServer();
  ~CFtpServer();
  CFtpServer(const CFtpServer&) = delete;
  CFtpServer& operator=(const CFtpServer&) = delete;

  // Configuration and start (server.cpp).
  bool SetPort(uint16_t port);
  bool SetDataPortRange(uint16_t firstPort, int32_t count);
  // Listens on this one address (an IPv4 or IPv6 literal) instead of on
  // every address. False, and no listening at all, for anything else.
  bool SetListenAddress(const char* address);
  // Limits (ftp_limits.h has the defaults). Idle: a control connection that
  // sends nothing this long while no transfer runs is closed; it also bounds
  // a data connection or a reply that makes no progress. Data: the longest
  // wait for a data connection. Connections: most control connections in
  // all and from one address. Each false, changing nothing, for a value
  // below 1 (or, for a time, too large to wait for in milliseconds).
  bool SetIdleTimeout(int seconds);
  bool SetDataConnectTimeout(int seconds);
  bool SetConnectionLimits(int32_t total, int32_t perAddress);
  // The pause before a failed password is answered (0: none).
  void SetLoginFailurePause(int milliseconds);
  // Offers TLS (AUTH TLS, PBSZ, PROT) with the certificate and private key
  // of one PEM file; false with `*error` saying why it cannot be used.
  // Required: logins need a protected control connection.
  bool EnableTls(const std::string& pemFile, std::string* error);
  void RequireTls(bool required) { tlsRequired_ = required; }
  bool tlsEnabled() const { return tls_ != nullptr; }
  bool tlsRequired() const { return tlsRequired_ && tls_ != nullptr; }
  bool StartListening();
  bool StopListening();
  bool StartAccepting();

  // Clients (clients.cpp). None of these may be called while the caller
  // holds the list lock: they wait for session threads, which may need it.
  FtpClient* AddClient(SocketHandle socket, const NetAddress* peerAddress);
  bool RemoveClient(FtpClient* client);
  void RemoveAllClients();
  void RemoveFinishedClients();

  // Sockets and replies (socket_ops.cpp).
  void CloseSocket(std::atomic<SocketHandle>* socket);
  void EndSession(FtpClient* client);
  bool SendReply(FtpClient* client, const char* text);
  bool SendFormattedReply(FtpClient* client, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  // The control and data channels, in TLS when protected (secure_channel.cpp).
  // SendControl: bytes on the control connection. StartTls: AUTH's reply and
  // handshake; false when the session must end. ProtectDataConnection: the
  // handshake on a data connection just opened, when PROT P is in force;
  // false (connection closed) when it fails. CloseDataConnection: ends the
  // data connection (close_notify first when protected).
  bool SendControl(FtpClient* client, const char* data, size_t size);
  bool StartTls(FtpClient* client);
  bool ProtectDataConnection(FtpClient* client);
  void CloseDataConnection(FtpClient* client);

  // Accounts (accounts.cpp).
  FtpUser* AddUser(const char* name, const char* password, const char* startPath);
  FtpUser* FindUser(const char* name);
  bool DeleteUser(FtpUser* user);
  void DeleteAllUsers();
  bool AllowAnonymous(bool enable, const char* startPath);
  bool SetMaxClients(FtpUser* user, int32_t limit);
  bool SetPrivileges(FtpUser* user, uint8_t mask);

  // The account side of USER, PASS and REIN (login.cpp). Each sends its
  // reply. LoginPassword is false when the session must end (too many
  // failed passwords).
  void LoginUser(FtpClient* client, const std::string& name);
  bool LoginPassword(FtpClient* client, const std::string* argument);
  void Reinitialize(FtpClient* client);

  // Virtual paths (virtual_path.cpp). `argument` may be null; when it is
  // not, it is tidied in place.
  static bool NormalizePath(std::string& path);
  static std::optional<std::string> BuildPath(const char* startPath, const char* currentDirectory,
                                              std::string* argument);
  // The path a client sees for a built path: what follows the start path,
  // "/" for the start path itself.
  static std::string ClientPath(const std::string& startPath, const std::string& built);

  // Data connections (passive_mode.cpp, active_mode.cpp,
  // data_connection.cpp). Each sends its own replies. PASV and EPSV return
  // false when the session must end.
  bool EnterPassiveMode(FtpClient* client);
  bool EnterExtendedPassiveMode(FtpClient* client, const std::string* argument);
  void EnterActiveMode(FtpClient* client, const std::string* argument);
  void EnterExtendedActiveMode(FtpClient* client, const std::string* argument);
  // Opens the data connection PASV/EPSV or PORT/EPRT prepared. A wait that
  // times out, or that ABOR, QUIT or the end of the control connection cuts
  // short, fails; on every failure the listener or socket is released.
  bool OpenDataConnection(FtpClient* client);
  // Closes the data socket (a passive listener among others) and forgets
  // the passive port, which PORT may then name again.
  void DropDataSocket(FtpClient* client);

  // Transfers (transfer_start.cpp, send_worker.cpp, receive_worker.cpp).
  // The checks every data command makes first, each answered when it
  // fails: the account's `privilege` (550), an argument (501, unless
  // `argumentOk`), and no transfer under way (425).
  bool MayStartDataCommand(FtpClient* client, uint8_t privilege, bool argumentOk = true);
  // Waits for the last worker, then opens the data connection; 425 when it
  // cannot be opened.
  bool OpenDataConnectionOrTell(FtpClient* client);
  void RetrieveFile(FtpClient* client, std::string* argument);
  bool StoreFile(FtpClient* client, std::string* argument, const char* command);
  void AbortTransfer(FtpClient* client);
  // Waits for a transfer worker that was aborted and is still finishing.
  // Called on the session thread before anything reuses the data socket.
  void AwaitTransferWorker(FtpClient* client);
  void SendFileThread(FtpClient* client, TransferJob job);
  void ReceiveFileThread(FtpClient* client, TransferJob job);

  // Listings (listing.cpp, machine_listing.cpp).
  void ListDirectory(FtpClient* client, std::string* argument, const char* command);
  // MLSD: the facts of a directory's entries, on a data connection.
  void MachineListDirectory(FtpClient* client, std::string* argument);

  // Read-only views.
  uint16_t port() const { return controlPort_; }
  uint16_t firstDataPort() const { return firstDataPort_; }
  int32_t dataPortCount() const { return dataPortCount_; }
  bool listening() const { return listening_; }
  bool anonymousEnabled() const { return anonymousEnabled_ != 0; }
  FtpUser* anonymousUser() const { return anonymousUser_; }
  uint32_t clientCount();
  uint32_t userCount();
  // The clients logged in to the account now (under the list lock).
  int32_t CurrentClients(const FtpUser* user);
  static const char* MonthName(int month);  // 0 to 11
  // The address shown by STAT without an argument.
  static const char* ContactAddress();

  // Closes the descriptors a client's sockets left behind once no thread
  // can use them any more (socket_ops.cpp).
  void CloseRetiredSockets(FtpClient* client);

 private:
  void AcceptLoop();
  // Starts a session for a new connection, or tells it that there are too
  // many connections and closes it (admission.cpp).
  void AdmitClient(SocketHandle socket, const NetAddress& peer);
  void RunSession(FtpClient* client);
  // The next bytes of the control connection (the session's receive): 0 or
  // -1 when it ended, or when it stayed idle too long (which is told).
  long ReceiveCommandBytes(FtpClient* client, char* buffer, size_t size);
  // One receive on the control connection (TLS when protected): a count,
  // 0 or -1 at its end, or TlsStream::kWouldBlock. ControlPending: bytes
  // wait in the TLS stream that no poll of the socket would show.
  long ReceiveControl(FtpClient* client, char* buffer, size_t size);
  bool ControlPending(FtpClient* client);
  // Waits for the data socket to be ready: readable (a passive listener) or
  // writable (an active connection in progress). Meanwhile command lines are
  // buffered; ABOR, QUIT or the end of the control connection end the wait
  // (data_wait.cpp).
  enum class DataWait { kReady, kTimedOut, kInterrupted };
  DataWait AwaitDataSocket(FtpClient* client, bool forWrite);
  // Port is the control port or a port some session's passive listener
  // listens on (admission.cpp).
  bool IsOwnListeningPort(uint16_t port);
  // Counts a failed password and pauses; false once the session must end.
  bool AfterFailedLogin(FtpClient* client);
  // A data connection just made: bounded waits, and the listener released.
  void PrepareDataSocket(FtpClient* client);
  // Takes the client out of the list and ends its session; the caller holds
  // the list lock. FinishRemoval then waits for its threads and frees it; the
  // caller must not hold the list lock.
  void DetachClient(FtpClient* client);
  void FinishRemoval(FtpClient* client);
  void FinishRemovals(std::vector<FtpClient*>& clients);
  // Shuts a client's socket down and keeps its descriptor until no thread
  // can use it (socket lock).
  void RetireSocket(FtpClient* client, std::atomic<SocketHandle>* socket);
  // Account references (login.cpp); list lock held.
  void ReferAccount(FtpClient* client, FtpUser* user);
  void LeaveLogin(FtpClient* client);
  void FreeUserIfUnused(FtpUser* user);
  enum class PassiveOpen { kOpened, kNoSocket, kNoPort };
  // Replaces the data socket by a passive listener; with no free port it
  // replies and ends the session (kNoPort).
  PassiveOpen OpenPassiveListener(FtpClient* client);
  bool BindPassivePort(FtpClient* client, SocketHandle socket);
  // Listings on a data connection, after MayStartDataCommand:
  // BeginDataListing opens and protects the connection, replying and
  // returning false when the listing cannot go on. EndDataListing closes
  // the connection and resets the data mode.
  bool BeginDataListing(FtpClient* client);
  void EndDataListing(FtpClient* client);
  void SetActiveTarget(FtpClient* client, const NetAddress& named, uint16_t port,
                       const char* verb);
  SocketHandle ConnectActive(FtpClient* client);
  bool AcceptPassive(FtpClient* client);

  std::list<FtpClient*> clients_;
  std::atomic<SocketHandle> listenSocket_{kInvalidSocket};
  int32_t dataPortCount_ = kDefaultDataPortCount;
  uint16_t firstDataPort_ = kDefaultFirstDataPort;
  FtpUser* anonymousUser_ = nullptr;
  std::list<FtpUser*> users_;
  uint16_t controlPort_ = kDefaultControlPort;
  std::optional<NetAddress> listenAddress_;  // none: every address
  bool listenAddressValid_ = true;
  std::atomic<int> idleSeconds_ = kDefaultIdleSeconds;
  std::atomic<int> dataConnectSeconds_ = kDefaultDataConnectSeconds;
  std::atomic<int32_t> maxConnections_ = kDefaultMaxConnections;
  std::atomic<int32_t> maxPerAddress_ = kDefaultMaxPerAddress;
  std::atomic<int> loginFailurePauseMilliseconds_ = kLoginFailurePauseMilliseconds;
  uint8_t anonymousEnabled_ = 0;
  uint32_t numberOfClients_ = 0;
  uint32_t numberOfUsers_ = 0;
  bool listening_ = false;
  bool accepting_ = false;
  std::thread acceptThread_;
  std::recursive_mutex listLock_;
  std::recursive_mutex socketLock_;
  std::unique_ptr<TlsServerContext> tls_;
  std::atomic<bool> tlsRequired_{false};
};

}  // namespace vrax::ftp
