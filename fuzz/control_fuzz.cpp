// Fuzz harness: the FTP control path. A logged-in session of the real
// server, on a small volume of its own, is fed arbitrary command lines over
// a loopback connection; every command that changes the volume goes to the
// engine. Commands that open data connections are replaced by NOOP (a
// data connection would wait for a peer that never comes). The session
// must answer every line and end on QUIT: no crash, no hang.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "fuzz_image.h"
#include "platform/settings.h"

namespace {

constexpr size_t kMaxLines = 64;
constexpr size_t kMaxLine = 512;

const char* const kDataVerbs[] = {"PASV", "EPSV", "PORT", "EPRT", "LIST", "NLST",
                                  "MLSD", "RETR", "STOR", "APPE", "STOU"};

struct Server {
  std::unique_ptr<vrax::ftp::CFtpServer> ftp = std::make_unique<vrax::ftp::CFtpServer>();
  uint16_t port = 0;
  bool account = false;
};

Server& TheServer() {
  static Server* server = [] {
    vrax::g_writeThrough = 0;
    vrax::g_reportDevice = 0;
    vrax::fuzz::Base();
    auto* s = new Server;
    // A wrong password costs the session a pause; here it would only slow
    // the fuzzing down, as every input may send one.
    s->ftp->SetLoginFailurePause(0);
    for (uint16_t port = 20000 + static_cast<uint16_t>(getpid() % 20000);; ++port) {
      if (s->ftp->SetListenAddress("127.0.0.1") && s->ftp->SetPort(port) &&
          s->ftp->StartListening()) {
        s->port = port;
        break;
      }
    }
    s->ftp->StartAccepting();
    return s;
  }();
  return *server;
}

std::string Verb(const std::string& line) {
  std::string verb = line.substr(0, line.find(' '));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

std::string Script(const uint8_t* data, size_t size) {
  std::string script = "USER u\r\nPASS p\r\n";
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  for (size_t lines = 0; at < input.size() && lines < kMaxLines; ++lines) {
    const size_t end = std::min(input.find('\n', at), input.size());
    std::string line = input.substr(at, std::min(end - at, kMaxLine));
    at = end + 1;
    const std::string verb = Verb(line);
    if (std::any_of(std::begin(kDataVerbs), std::end(kDataVerbs),
                    [&verb](const char* v) { return verb == v; })) {
      line = "NOOP";
    }
    script += line + "\n";
  }
  return script + "QUIT\r\n";
}

void Converse(uint16_t port, const std::string& script) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval limit{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    send(s, script.data(), script.size(), MSG_NOSIGNAL);
    char reply[4096];
    while (recv(s, reply, sizeof reply, 0) > 0) {
    }
  }
  close(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Server& server = TheServer();
  const std::string path = vrax::fuzz::ServeImage(vrax::fuzz::Base().bytes);
  {
    vrax::VraxInterface mount("/1", true, path);
    if (!mount.mounted()) return 0;
    if (!server.account) {
      vrax::ftp::FtpUser* user = server.ftp->AddUser("u", "p", "/1");
      server.ftp->SetPrivileges(user, vrax::ftp::kPrivAll);
      server.account = true;
    }
    Converse(server.port, Script(data, size));
    server.ftp->RemoveFinishedClients();
  }
  return 0;
}
