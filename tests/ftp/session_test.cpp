// Sessions against an account whose start path lies below the drive's root,
// and passive connections from strangers.
#include <utility>

#include "served_image.h"

namespace vrax::ftp::test {
namespace {

using Sessions = ServedImage;

TEST_F(Sessions, AnAccountNeverLeavesItsStartPath) {
  AddFullUser("pub", "pw", "/1/pub");
  auto c = Connect();
  ASSERT_TRUE(c->Login("pub", "pw"));
  const std::pair<const char*, const char*> steps[] = {
      {"SIZE p.txt", "213 3"},          {"SIZE ../a.txt", "550 No such file."},
      {"SIZE /../a.txt", "550 No such file."}, {"CWD ..", "250 CWD command successful."},
      {"PWD", "257 \"/\" is current directory."}, {"SIZE a.txt", "550 No such file."},
      {"CWD sub", "250 CWD command successful."}, {"CWD ..", "250 CWD command successful."},
      {"PWD", "257 \"/\" is current directory."}, {"SIZE p.txt", "213 3"},
  };
  for (const auto& [command, reply] : steps) EXPECT_EQ(c->Command(command), reply) << command;
  const int data = c->OpenPassiveData();
  ASSERT_EQ(c->Command("NLST .."), "150 Opening data connection for directory list.");
  const std::string names = ReadToEnd(data);
  EXPECT_EQ(c->ReadLine(), "226 Transfer complete.");
  EXPECT_NE(names.find("p.txt"), std::string::npos) << names;
  EXPECT_EQ(names.find("a.txt"), std::string::npos) << names;
}

TEST_F(Sessions, APassiveConnectionIsTakenOnlyFromTheClient) {
  for (const char* command : {"PASV", "EPSV"}) {
    auto c = LoggedIn();
    const uint16_t port = c->PassivePort(command);
    ASSERT_NE(port, 0) << command;
    c->Send("RETR a.txt\r\n");
    // A stranger from 127.0.0.2 is turned away; the client itself is served.
    const int stranger = ConnectFrom("127.0.0.2", port);
    if (stranger == -2) GTEST_SKIP() << "127.0.0.2 is not usable here";
    ASSERT_GE(stranger, 0);
    EXPECT_EQ(ReadToEnd(stranger), "") << command;
    const int data = ConnectFrom(nullptr, port);
    ASSERT_GE(data, 0);
    EXPECT_EQ(c->ReadLine(), "150 Opening data connection.");
    EXPECT_EQ(ReadToEnd(data), "root") << command;
    EXPECT_EQ(c->ReadLine(), "226 Transfer complete.");
  }
}

// When every port of the range is taken (here the one the server listens
// on), PASV gives up and ends the session.
TEST_F(Sessions, PassiveModeWithoutAFreePortEndsTheSession) {
  ASSERT_TRUE(server_->SetDataPortRange(port_, 1));
  auto c = LoggedIn();
  EXPECT_EQ(c->Command("PASV"), "451 Internal error - No more data port available.");
  EXPECT_TRUE(c->ClosedByServer());
}

}  // namespace
}  // namespace vrax::ftp::test
