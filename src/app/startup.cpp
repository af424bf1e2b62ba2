#include "app/startup.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/exit_codes.h"
#include "app/failure_text.h"
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

// Prints `message` and tears everything down; returns `code`. A person at a
// terminal gets to read the message first (the program waits for Enter);
// a script or service manager is never kept waiting on its input.
int Fail(Running& running, int code, const std::string& message) {
  std::fputs(message.c_str(), stdout);
  std::fflush(stdout);
  if (isatty(STDIN_FILENO)) std::getchar();
  std::fputs("----> Exiting\n", stdout);
  running.Stop();
  return code;
}

ftp::FtpUser* CreateAccounts(const Options& o, ftp::CFtpServer& server, const std::string& drive) {
  if (o.anonymous && !server.AllowAnonymous(true, drive.c_str())) {
    std::printf("-Unable to create anonymous user; Make sure its StartPath exists!(%s)\r\n",
                drive.c_str());
  }
  return server.AddUser(o.login.c_str(), o.password.c_str(), drive.c_str());
}

// The certificate and key of -k, loaded before anything is opened; empty,
// or the line that says why they cannot be used.
std::string PrepareTls(const Options& o, ftp::CFtpServer& server) {
  std::string error;
  if (o.tlsFile.empty() || server.EnableTls(o.tlsFile, &error)) {
    server.RequireTls(o.tlsRequired != 0);
    return std::string();
  }
  return "----> Unable to Use TLS Certificate: " + error + "\n";
}

// Loads TLS, mounts the drive and makes the accounts; kExitOk, or the
// failure's exit code after its message. Nothing is made on a drive that
// did not mount, and no drive is opened with an unusable certificate.
int MountAndCreateAccounts(const Options& o, const std::string& drive, Running& running) {
  running.server = std::make_unique<ftp::CFtpServer>();
  ftp::CFtpServer& server = *running.server;
  const std::string tlsFailure = PrepareTls(o, server);
  if (tlsFailure.empty()) {
    running.mount = std::make_unique<VraxInterface>(drive.c_str(), o.readOnly == 0, o.image);
  }
  server.SetPort(static_cast<uint16_t>(o.port));
  if (!o.listenAddress.empty()) server.SetListenAddress(o.listenAddress.c_str());
  server.SetDataPortRange(kFirstDataPort, kDataPortCount);
  server.SetIdleTimeout(o.idleSeconds);
  server.SetConnectionLimits(o.maxConnections, ftp::kDefaultMaxPerAddress);
  const bool mounted = running.mount != nullptr && running.mount->mounted();
  ftp::FtpUser* user = mounted ? CreateAccounts(o, server, drive) : nullptr;
  std::fputs(SettingsText(o).c_str(), stdout);
  if (!tlsFailure.empty()) return Fail(running, kExitTls, tlsFailure);
  if (!mounted) return Fail(running, kExitMount, MountFailureText(o, drive));
  if (user == nullptr) return Fail(running, kExitAccount, AccountFailureText(o));
  std::fputs("----> FtpUser Created\n", stdout);
  if (server.tlsEnabled()) {
    std::fputs(server.tlsRequired() ? "----> TLS Required\n" : "----> TLS Offered\n", stdout);
  }
  server.SetMaxClients(user, 0);
  server.SetPrivileges(user, ftp::kPrivAll);
  return kExitOk;
}

int StartServing(const Options& o, Running& running) {
  ftp::CFtpServer& server = *running.server;
  if (!server.StartListening()) return Fail(running, kExitListen, ListenFailureText(o));
  std::fputs("----> Server is Listening\n", stdout);
  if (!server.StartAccepting()) {
    return Fail(running, kExitAccept, "----> Unable to Accept Incoming Connections\n");
  }
  return kExitOk;
}

}  // namespace

int RunServer(const Options& o) {
  const std::string drive = DrivePath(o);
  Running running;
  if (const int code = MountAndCreateAccounts(o, drive, running); code != kExitOk) return code;
  if (const int code = StartServing(o, running); code != kExitOk) return code;
  // Serving from here on: a stop signal now ends the program in order. The
  // handler is in place before the line that tells the world it started.
  InstallStopSignals();
  std::fputs("----> Server Started\n", stdout);
  std::fflush(stdout);
  while (!StopRequested()) SleepMilliseconds(kStopPollMilliseconds);
  running.server->StopListening();
  running.Stop();
  return kExitOk;
}

}  // namespace vrax::app
