#include "served_image.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/settings.h"
#include "support/volume_fixture.h"

namespace vrax::ftp::test {

namespace {

sockaddr_in Loopback(uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(address);
  return a;
}

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

ControlClient::ControlClient(uint16_t port) : socket_(ConnectFrom(nullptr, port)) {
  if (socket_ >= 0) greeting_ = ReadLine();
}

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
  const timeval limit{10, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
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
  return port == 0 ? -1 : ConnectFrom(nullptr, port);
}

std::string ReadToEnd(int socket) {
  std::string all;
  char chunk[65536];
  ssize_t n;
  while ((n = recv(socket, chunk, sizeof chunk, 0)) > 0) all.append(chunk, static_cast<size_t>(n));
  close(socket);
  return all;
}

void ServedImage::SetUp() {
  g_writeThrough = 0;  // the image is thrown away
  const std::string tree = dir_.File("tree");
  mkdir(tree.c_str(), 0755);
  mkdir((tree + "/pub").c_str(), 0755);
  mkdir((tree + "/pub/sub").c_str(), 0755);
  vrax::test::WriteFileBytes(tree + "/a.txt", {'r', 'o', 'o', 't'});
  vrax::test::WriteFileBytes(tree + "/pub/p.txt", {'p', 'u', 'b'});
  image_ = dir_.File("volume.img");
  ASSERT_EQ(vrax::test::FormatVolume(image_, "--size 16M --from '" + tree + "'"), 0);
  mount_ = std::make_unique<VraxInterface>("/1", true, image_);
  ASSERT_TRUE(mount_->mounted());
  server_ = std::make_unique<CFtpServer>();
  port_ = FreeLoopbackPort();
  ASSERT_TRUE(server_->SetPort(port_));
  ASSERT_TRUE(server_->StartListening());
  ASSERT_TRUE(server_->StartAccepting());
}

void ServedImage::TearDown() {
  server_.reset();
  mount_.reset();
  g_writeThrough = 1;
  const vrax::test::CheckerResult check = vrax::test::RunChecker(image_);
  EXPECT_EQ(check.exitCode, 0) << check.output;
}

FtpUser* ServedImage::AddFullUser(const char* name, const char* password, const char* start) {
  FtpUser* user = server_->AddUser(name, password, start);
  if (user != nullptr) server_->SetPrivileges(user, kPrivAll);
  return user;
}

std::unique_ptr<ControlClient> ServedImage::Connect() {
  auto client = std::make_unique<ControlClient>(port_);
  EXPECT_EQ(client->greeting(), "220 Corvane Ftp Server.");
  return client;
}

std::unique_ptr<ControlClient> ServedImage::LoggedIn() {
  if (server_->FindUser("u") == nullptr) AddFullUser("u", "p");
  auto client = Connect();
  EXPECT_TRUE(client->Login("u", "p"));
  return client;
}

bool ServedImage::Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace vrax::ftp::test
