// The server object: configuration, clients, shutdown and concurrency.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "served_image.h"

namespace vrax::ftp::test {
namespace {

TEST(ServerConfiguration, PortsRangesAndClientArguments) {
  CFtpServer server;
  EXPECT_FALSE(server.SetPort(0));
  EXPECT_EQ(server.port(), 21);
  EXPECT_TRUE(server.SetDataPortRange(100, 199));
  EXPECT_FALSE(server.SetDataPortRange(65000, 1000));
  EXPECT_FALSE(server.SetDataPortRange(100, 0));
  EXPECT_FALSE(server.SetDataPortRange(0, 10));
  EXPECT_TRUE(server.SetDataPortRange(65000, 535));
  EXPECT_EQ(server.firstDataPort(), 65000);
  EXPECT_EQ(server.dataPortCount(), 535);
  // Clients need a socket and an address.
  const NetAddress address;
  EXPECT_EQ(server.AddClient(kInvalidSocket, &address), nullptr);
  EXPECT_EQ(server.AddClient(3, nullptr), nullptr);
  EXPECT_FALSE(server.RemoveClient(nullptr));
}

// Small replies go out at once: without TCP_NODELAY on the control
// connection each "226" would wait for the client's delayed acknowledgement
// of the "150" before it (some 40 ms per transfer).
TEST(ServerConfiguration, ControlConnectionsSendSmallRepliesAtOnce) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(listen(listener, 1), 0);  // on a port the kernel picks
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int peer = ConnectFrom(nullptr, ntohs(address.sin_port));
  ASSERT_GE(peer, 0);
  const int accepted = accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  CFtpServer server;
  const NetAddress loopback = Ipv4Address(127, 0, 0, 1);
  FtpClient* client = server.AddClient(accepted, &loopback);
  ASSERT_NE(client, nullptr);
  int noDelay = 0;
  socklen_t size = sizeof noDelay;
  EXPECT_EQ(getsockopt(client->controlSocket.load(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
  EXPECT_NE(noDelay, 0);
  close(peer);  // the session ends; the server joins it when destroyed
  close(listener);
}

TEST(ServerConfiguration, ListeningOnceAndStopping) {
  CFtpServer server;
  const uint16_t port = FreeLoopbackPort();
  ASSERT_TRUE(server.SetPort(port));
  ASSERT_TRUE(server.StartListening());
  EXPECT_TRUE(server.StartListening());
  EXPECT_FALSE(server.SetPort(static_cast<uint16_t>(port + 1)));
  EXPECT_EQ(server.port(), port);
  EXPECT_TRUE(server.StopListening());  // no accept thread yet
  EXPECT_FALSE(server.StartAccepting());  // not listening
  // The port can be taken again at once.
  ASSERT_TRUE(server.StartListening());
  EXPECT_TRUE(server.StartAccepting());
  ControlClient client(port);
  EXPECT_EQ(client.greeting(), "220 Corvane Ftp Server.");
}

using Clients = ServedImage;

TEST_F(Clients, RemovingAClientClosesItsConnection) {
  auto c = LoggedIn();
  ASSERT_TRUE(Eventually([&] { return server_->clientCount() == 1; }));
  server_->RemoveAllClients();
  EXPECT_TRUE(c->ClosedByServer());
  EXPECT_EQ(server_->clientCount(), 0u);
}

// Destroying the server ends sessions that are blocked anywhere: reading a
// command, waiting for a passive data connection, sending a file.
TEST_F(Clients, DestructionEndsEverySessionPromptly) {
  std::vector<char> big(8 * 1024 * 1024, 'b');
  auto uploader = LoggedIn();
  int data = uploader->OpenPassiveData();
  ASSERT_GE(data, 0);
  ASSERT_EQ(uploader->Command("STOR big.bin"), "150 Opening data connection.");
  send(data, big.data(), big.size(), MSG_NOSIGNAL);
  close(data);
  ASSERT_EQ(uploader->ReadLine(), "226 Transfer complete.");

  auto idle = Connect();
  auto waiting = LoggedIn();
  ASSERT_EQ(waiting->Command("PASV").substr(0, 4), "227 ");
  waiting->Send("LIST\r\n");  // blocks its session in the passive accept
  auto sending = LoggedIn();
  const int slowData = sending->OpenPassiveData();
  ASSERT_GE(slowData, 0);
  ASSERT_EQ(sending->Command("RETR big.bin"), "150 Opening data connection.");
  ASSERT_TRUE(Eventually([&] { return server_->clientCount() == 4; }));

  const auto began = std::chrono::steady_clock::now();
  server_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
  EXPECT_TRUE(idle->ClosedByServer());
  EXPECT_TRUE(waiting->ClosedByServer());
  close(slowData);
}

// Sessions that log in and out while the accounts they use are deleted and
// others are removed: no removal may wait on a session that waits for it.
TEST_F(Clients, RemovalNeverWaitsForASessionThatWaitsForIt) {
  AddFullUser("keep", "pw");
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int k = 0; k < 4; ++k) {
    workers.emplace_back([&, k] {
      while (!stop) {
        ControlClient c(port_);
        for (int round = 0; round < 20 && !stop; ++round) {
          c.Command(k % 2 ? "USER temp" : "USER keep");
          c.Command("PASS pw");
          c.Command("REIN");
        }
      }
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int rounds = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    FtpUser* temp = AddFullUser("temp", "pw");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (temp != nullptr) {
      EXPECT_TRUE(server_->DeleteUser(temp));
    }
    server_->RemoveFinishedClients();
    ++rounds;
  }
  stop = true;
  server_->RemoveAllClients();
  for (std::thread& t : workers) t.join();
  EXPECT_GT(rounds, 10);
}

}  // namespace
}  // namespace vrax::ftp::test
