// What a vanished, idle, flooding or guessing client can hold of the
// server: data-connection waits, connection limits, idle sessions, failed
// logins and PORT targets.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "served_image.h"

namespace vrax::ftp::test {
namespace {

using Hardening = ServedImage;

std::string PortCommand(const char* verb, uint16_t port) {
  if (std::string(verb) == "EPRT") return "EPRT |1|127.0.0.1|" + std::to_string(port) + "|";
  return "PORT 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

TEST_F(Hardening, AnUnansweredDataConnectionIsGivenUpAndItsPortReleased) {
  ASSERT_TRUE(server_->SetDataConnectTimeout(1));
  auto c = LoggedIn();
  const uint16_t port = c->PassivePort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(c->Command("LIST"), "425 Can't open data connection.");
  EXPECT_FALSE(ControlClient(port).connected());
  // The session goes on, and the next data connection works.
  const int data = c->OpenPassiveData();
  ASSERT_GE(data, 0);
  EXPECT_EQ(c->Command("NLST"), "150 Opening data connection for directory list.");
  EXPECT_EQ(ReadToEnd(data), "a.txt\r\npub\r\n");
  EXPECT_EQ(c->ReadLine(), "226 Transfer complete.");
}

// The default wait is long; ABOR and QUIT end it at once, answered in order.
// (ftp_hardening counts what sessions that vanish in the wait leave behind.)
TEST_F(Hardening, AbortAndQuitEndADataConnectionWait) {
  for (const char* commands : {"RETR a.txt\r\nABOR\r\n", "LIST\r\nQUIT\r\n"}) {
    const bool quit = std::string(commands).ends_with("QUIT\r\n");
    auto c = LoggedIn();
    ASSERT_NE(c->PassivePort(), 0);
    c->Send(commands);
    ASSERT_TRUE(c->ReplyWaiting(5000)) << commands;
    EXPECT_EQ(c->ReadLine(), "425 Can't open data connection.");
    EXPECT_EQ(c->ReadLine().substr(0, 4), quit ? "221 " : "226 ");
    if (quit) EXPECT_TRUE(c->ClosedByServer());
    else EXPECT_EQ(c->Command("NOOP"), "200 NOOP Command Successful.");
  }
}

TEST_F(Hardening, ConnectionsBeyondALimitAreToldAndClosed) {
  ASSERT_TRUE(server_->SetConnectionLimits(3, 2));
  auto first = Connect();
  auto second = Connect();
  ControlClient third(port_);
  EXPECT_EQ(third.greeting(), "421 Too many connections");
  EXPECT_TRUE(third.ClosedByServer());
  // An ended session counts no more.
  first->Close();
  EXPECT_TRUE(Eventually([&] { return ControlClient(port_).greeting() == "220 Corvane Ftp Server."; }));

  ASSERT_TRUE(Eventually([&] {  // only `second` is left
    server_->RemoveFinishedClients();
    return server_->clientCount() == 1;
  }));
  ASSERT_TRUE(server_->SetConnectionLimits(2, 32));
  auto another = Connect();
  ControlClient over(port_);
  EXPECT_EQ(over.greeting(), "421 Too many connections");
  EXPECT_FALSE(server_->SetConnectionLimits(0, 1));
  EXPECT_FALSE(server_->SetConnectionLimits(1, 0));
}

TEST_F(Hardening, AnIdleSessionIsTimedOut) {
  ASSERT_TRUE(server_->SetIdleTimeout(1));
  EXPECT_FALSE(server_->SetIdleTimeout(0));
  auto c = LoggedIn();
  EXPECT_EQ(c->ReadLine(), "421 Timeout.");
  EXPECT_TRUE(c->ClosedByServer());
}

// Each failed password costs a pause that holds only its own session; the
// third ends the session.
TEST_F(Hardening, FailedLoginsArePausedAndEndTheSessionAtTheThird) {
  AddFullUser("u", "p");
  server_->SetLoginFailurePause(60000);
  auto guesser = Connect();
  auto other = Connect();
  EXPECT_EQ(guesser->Command("USER u"), "331 Password required for this user.");
  guesser->Send("PASS wrong\r\n");
  EXPECT_TRUE(other->Login("u", "p"));
  EXPECT_FALSE(guesser->ReplyWaiting(200));
  server_->SetLoginFailurePause(1);
  EXPECT_EQ(guesser->ReadLine(), "530 Please login with valid USER and PASS.");
  EXPECT_EQ(guesser->Command("USER u"), "331 Password required for this user.");
  EXPECT_EQ(guesser->Command("PASS wrong"), "530 Please login with valid USER and PASS.");
  EXPECT_EQ(guesser->Command("USER u"), "331 Password required for this user.");
  EXPECT_EQ(guesser->Command("PASS wrong"), "421 Too many failed logins.");
  EXPECT_TRUE(guesser->ClosedByServer());
}

TEST_F(Hardening, DataTargetsArePortsOfTheClientAboveTheReservedRange) {
  auto c = LoggedIn();
  for (const char* verb : {"PORT", "EPRT"}) {
    const std::string refused = std::string("500 Illegal ") + verb + " command.";
    EXPECT_EQ(c->Command(PortCommand(verb, 22)), refused);
    EXPECT_EQ(c->Command(PortCommand(verb, 1023)), refused);
    EXPECT_EQ(c->Command(PortCommand(verb, port_)), refused);
    EXPECT_EQ(c->Command(PortCommand(verb, 1024)), std::string("200 ") + verb + " command successful.");
  }
}

// A port on 127.0.0.1 that nothing listens on.
uint16_t UnusedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

// Active data connections that fail hold no descriptor afterwards.
TEST_F(Hardening, FailedActiveConnectionsHoldNoDescriptor) {
  auto c = LoggedIn();
  const auto open = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = open();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(c->Command(PortCommand("PORT", UnusedPort())), "200 PORT command successful.");
    EXPECT_EQ(c->Command("RETR a.txt"), "425 Can't open data connection.");
  }
  EXPECT_EQ(open(), before);
}

}  // namespace
}  // namespace vrax::ftp::test
