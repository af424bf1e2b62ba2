#include "app/startup.h"

#include <cstdio>
#include <memory>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "platform/stop_signals.h"
#include "platform/threads.h"

namespace vrax::app {

namespace {

constexpr uint16_t kFirstDataPort = 100;
constexpr int32_t kDataPortCount = 199;  // ports 100 to 298
constexpr int kStopPollMilliseconds = 500;

struct Running {
  std::unique_ptr<VraxInterface> mount;
  std::unique_ptr<ftp::CFtpServer> server;

  // The server goes first: its sessions may still use the drive.
  void Stop() {
    server.reset();
    mount.reset();
  }
};

// Prints `message`, waits for one character of input (or its end), then
// tears everything down.
int Fail(Running& running, const char* message) {
  std::fputs(message, stdout);
  std::fflush(stdout);
  std::getchar();
  std::fputs("----> Exiting\n", stdout);
  running.Stop();
  return 0;
}

ftp::FtpUser* CreateAccounts(const Options& o, ftp::CFtpServer& server, const std::string& drive) {
  if (o.anonymous && !server.AllowAnonymous(true, drive.c_str())) {
    std::printf("-Unable to create anonymous user; Make sure its StartPath exists!(%s)\r\n",
                drive.c_str());
  }
  return server.AddUser(o.login.c_str(), o.password.c_str(), drive.c_str());
}

}  // namespace

int RunServer(const Options& o) {
  const std::string drive = DrivePath(o);
  Running running;
  running.mount = std::make_unique<VraxInterface>(drive.c_str(), o.readOnly == 0, o.image);
  running.server = std::make_unique<ftp::CFtpServer>();
  ftp::CFtpServer& server = *running.server;
  server.SetPort(static_cast<uint16_t>(o.port));
  server.SetDataPortRange(kFirstDataPort, kDataPortCount);
  ftp::FtpUser* user = CreateAccounts(o, server, drive);
  std::fputs(SettingsText(o).c_str(), stdout);
  if (user == nullptr) return Fail(running, "----> Unable to Create FtpUser\n");
  std::fputs("----> FtpUser Created\n", stdout);
  server.SetMaxClients(user, 0);
  server.SetPrivileges(user, ftp::kPrivAll);
  if (!server.StartListening()) return Fail(running, "----> Unable to Listen\n");
  std::fputs("----> Server is Listening\n", stdout);
  if (!server.StartAccepting()) return Fail(running, "----> Unable to Accept Incoming Connections\n");
  // Serving from here on: a stop signal now ends the program in order. The
  // handler is in place before the line that tells the world it started.
  InstallStopSignals();
  std::fputs("----> Server Started\n", stdout);
  std::fflush(stdout);
  while (!StopRequested()) SleepMilliseconds(kStopPollMilliseconds);
  server.StopListening();
  running.Stop();
  return 0;
}

}  // namespace vrax::app
