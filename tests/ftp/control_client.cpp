#include "control_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace vrax::ftp::test {

namespace {

constexpr int kTimeoutSeconds = 10;

void SetTimeouts(int s) {
  timeval limit{kTimeoutSeconds, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

sockaddr_in Loopback(uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(address);
  return a;
}

int ConnectLoopback(uint16_t port) { return ConnectFrom(nullptr, port); }

}  // namespace

// Drawn below the kernel's range of ephemeral ports, so that no client
// connection made meanwhile can take the port before the server binds it.
uint16_t FreeLoopbackPort() {
  static std::mt19937 draw{std::random_device{}()};
  std::uniform_int_distribution<int> ports(10000, 32000);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(static_cast<uint16_t>(ports(draw)));
    const bool free = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    if (free) return ntohs(a.sin_port);
  }
  return 0;
}

ControlClient::ControlClient(uint16_t port) : socket_(ConnectLoopback(port)) {
  if (socket_ >= 0) greeting_ = ReadLine();
}

ControlClient::~ControlClient() { Close(); }

void ControlClient::Close() {
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
}

void ControlClient::Send(const std::string& bytes) {
  if (socket_ >= 0) send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string ControlClient::ReadLine() {
  size_t end;
  while ((end = buffer_.find("\r\n")) == std::string::npos) {
    char chunk[1024];
    const ssize_t n = socket_ < 0 ? 0 : recv(socket_, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return "<timeout>";
    if (n <= 0) return "<closed>";
    buffer_.append(chunk, static_cast<size_t>(n));
  }
  std::string line = buffer_.substr(0, end);
  buffer_.erase(0, end + 2);
  return line;
}

std::string ControlClient::Command(const std::string& text) {
  Send(text + "\r\n");
  return ReadLine();
}

bool ControlClient::ClosedByServer() {
  char c;
  const ssize_t n = socket_ < 0 ? 0 : recv(socket_, &c, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

bool ControlClient::ReplyWaiting(int ms) {
  if (!buffer_.empty() || socket_ < 0) return true;
  pollfd p{socket_, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

bool ControlClient::Login(const std::string& user, const std::string& password) {
  if (Command("USER " + user).rfind("331", 0) != 0) return false;
  return Command("PASS " + password) == "230 User Logged In.";
}

uint16_t ControlClient::PassivePort(const std::string& command) {
  const std::string reply = Command(command);
  unsigned h[4], p[2], port = 0;
  if (std::sscanf(reply.c_str(), "227 Entering Passive Mode (%u,%u,%u,%u,%u,%u)", &h[0], &h[1],
                  &h[2], &h[3], &p[0], &p[1]) == 6) {
    return static_cast<uint16_t>(p[0] * 256 + p[1]);
  }
  if (std::sscanf(reply.c_str(), "229 Entering Extended Passive Mode (|||%u|)", &port) == 1) {
    return static_cast<uint16_t>(port);
  }
  return 0;
}

int ConnectFrom(const char* source, uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  SetTimeouts(s);
  const sockaddr_in from = Loopback(0, source ? source : "127.0.0.1");
  if (source != nullptr && bind(s, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
    close(s);
    return -2;
  }
  const sockaddr_in to = Loopback(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(s);
    return -1;
  }
  return s;
}

int ControlClient::OpenPassiveData() {
  const uint16_t port = PassivePort();
  return port == 0 ? -1 : ConnectLoopback(port);
}

std::string ReadToEnd(int socket) {
  std::string all;
  char chunk[65536];
  ssize_t n;
  while ((n = recv(socket, chunk, sizeof chunk, 0)) > 0) all.append(chunk, static_cast<size_t>(n));
  close(socket);
  return all;
}

}  // namespace vrax::ftp::test
