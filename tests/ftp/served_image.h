// A server in this process serving a vrax-mkfs image as drive "/1", and a
// control connection client with time limits, so that a test fails instead of hanging.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "support/temp_file.h"

namespace vrax::ftp::test {

// A TCP port on 127.0.0.1 that nothing listens on now.
uint16_t FreeLoopbackPort();

// A connection from the local address `source` (default: any) to
// 127.0.0.1:`port`; -1 when it fails, -2 when `source` cannot be bound here.
int ConnectFrom(const char* source, uint16_t port);

// Reads a data connection to its end and closes it.
std::string ReadToEnd(int socket);

class ControlClient {
 public:
  // Connects to 127.0.0.1:`port` and reads the greeting.
  explicit ControlClient(uint16_t port);
  ~ControlClient() { Close(); }
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

class ServedImage : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An account with every privilege and no limit.
  FtpUser* AddFullUser(const char* name, const char* password, const char* start = "/1");
  std::unique_ptr<ControlClient> Connect();
  // A client logged in as "u" with password "p" (made by AddFullUser on first use).
  std::unique_ptr<ControlClient> LoggedIn();
  // Waits until `condition` holds (up to 5 seconds).
  static bool Eventually(const std::function<bool()>& condition);

  vrax::test::TempDir dir_;
  std::string image_;
  std::unique_ptr<VraxInterface> mount_;
  std::unique_ptr<CFtpServer> server_;
  uint16_t port_ = 0;
};

}  // namespace vrax::ftp::test
