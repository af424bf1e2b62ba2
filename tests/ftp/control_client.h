// A test client for the control connection: blocking loopback sockets with
// time limits, so a test that goes wrong fails instead of hanging.
#pragma once

#include <cstdint>
#include <string>

namespace vrax::ftp::test {

// A TCP port on 127.0.0.1 that nothing listens on now.
uint16_t FreeLoopbackPort();

class ControlClient {
 public:
  // Connects to 127.0.0.1:`port` and reads the greeting.
  explicit ControlClient(uint16_t port);
  ~ControlClient();
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  bool connected() const { return socket_ >= 0; }
  const std::string& greeting() const { return greeting_; }
  // Sends `text` and CR LF, returns the next reply line (without CR LF);
  // "<closed>" when the connection ended, "<timeout>" after 10 seconds.
  std::string Command(const std::string& text);
  std::string ReadLine();
  void Send(const std::string& bytes);
  // True when the server closes the connection within a few seconds.
  bool ClosedByServer();
  // True when a reply (or the connection's end) arrives within `ms`.
  bool ReplyWaiting(int ms);
  // PASV or EPSV: the announced port, 0 when the reply announces none.
  uint16_t PassivePort(const std::string& command = "PASV");
  // PASV, then a connection to the announced port; -1 on failure.
  int OpenPassiveData();
  bool Login(const std::string& user, const std::string& password);
  void Close();

 private:
  int socket_ = -1;
  std::string buffer_;
  std::string greeting_;
};

// A connection from the local address `source` to 127.0.0.1:`port`; -1 when
// it fails, -2 when `source` cannot be bound here.
int ConnectFrom(const char* source, uint16_t port);

// Reads a data connection to its end and closes it.
std::string ReadToEnd(int socket);

}  // namespace vrax::ftp::test
