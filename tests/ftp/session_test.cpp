// Sessions against an account whose start path lies below the drive's root,
// and passive connections from strangers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "served_image.h"

namespace vrax::ftp::test {
namespace {

using Sessions = ServedImage;

std::string List(ControlClient& c, const std::string& command) {
  const int data = c.OpenPassiveData();
  if (data < 0) return "<no data connection>";
  const std::string opened = c.Command(command);
  if (opened.rfind("150 ", 0) != 0) {
    close(data);
    return "<" + opened + ">";
  }
  std::string text = ReadToEnd(data);
  c.ReadLine();
  return text;
}

TEST_F(Sessions, AnAccountNeverLeavesItsStartPath) {
  AddFullUser("pub", "pw", "/1/pub");
  auto c = Connect();
  ASSERT_TRUE(c->Login("pub", "pw"));
  EXPECT_EQ(c->Command("SIZE p.txt"), "213 3");
  EXPECT_EQ(c->Command("SIZE ../a.txt"), "550 No such file.");
  EXPECT_EQ(c->Command("SIZE /../a.txt"), "550 No such file.");
  EXPECT_EQ(c->Command("CWD .."), "250 CWD command successful.");
  EXPECT_EQ(c->Command("PWD"), "257 \"/\" is current directory.");
  EXPECT_EQ(c->Command("SIZE a.txt"), "550 No such file.");
  EXPECT_EQ(c->Command("CWD sub"), "250 CWD command successful.");
  EXPECT_EQ(c->Command("CWD .."), "250 CWD command successful.");
  EXPECT_EQ(c->Command("PWD"), "257 \"/\" is current directory.");
  EXPECT_EQ(c->Command("SIZE p.txt"), "213 3");
  EXPECT_EQ(c->Command("SIZE ../a.txt"), "550 No such file.");
  EXPECT_EQ(c->Command("CWD .."), "250 CWD command successful.");
  EXPECT_EQ(c->Command("SIZE p.txt"), "213 3");
  const std::string names = List(*c, "NLST ..");
  EXPECT_NE(names.find("p.txt"), std::string::npos) << names;
  EXPECT_EQ(names.find("a.txt"), std::string::npos) << names;
}

// The port a PASV or EPSV reply announces, or 0.
uint16_t PassivePort(ControlClient& c, const std::string& command) {
  const std::string reply = c.Command(command);
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

TEST_F(Sessions, APassiveConnectionIsTakenOnlyFromTheClient) {
  AddFullUser("u", "p");
  for (const char* command : {"PASV", "EPSV"}) {
    auto c = Connect();
    ASSERT_TRUE(c->Login("u", "p"));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(PassivePort(*c, command));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_NE(target.sin_port, 0) << command;
    c->Send("RETR a.txt\r\n");

    // A stranger from 127.0.0.2 is turned away.
    const int stranger = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.2");
    if (bind(stranger, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
      close(stranger);
      GTEST_SKIP() << "127.0.0.2 is not usable here";
    }
    ASSERT_EQ(connect(stranger, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    EXPECT_EQ(ReadToEnd(stranger), "") << command;

    // The client itself is still served.
    const int data = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(data, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    EXPECT_EQ(c->ReadLine(), "150 Opening data connection.");
    EXPECT_EQ(ReadToEnd(data), "root") << command;
    EXPECT_EQ(c->ReadLine(), "226 Transfer complete.");
  }
}

// When every port of the range is taken, PASV gives up and ends the session.
TEST_F(Sessions, PassiveModeWithoutAFreePortEndsTheSession) {
  AddFullUser("u", "p");
  const int blocker = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(listen(blocker, 1), 0);
  socklen_t length = sizeof any;
  getsockname(blocker, reinterpret_cast<sockaddr*>(&any), &length);
  ASSERT_TRUE(server_->SetDataPortRange(ntohs(any.sin_port), 1));
  auto c = Connect();
  ASSERT_TRUE(c->Login("u", "p"));
  EXPECT_EQ(c->Command("PASV"), "451 Internal error - No more data port available.");
  EXPECT_TRUE(c->ClosedByServer());
  close(blocker);
}

}  // namespace
}  // namespace vrax::ftp::test
