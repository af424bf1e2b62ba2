#include "served_image.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "platform/settings.h"
#include "support/volume_fixture.h"

namespace vrax::ftp::test {

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
  EXPECT_TRUE(client->connected());
  EXPECT_EQ(client->greeting(), "220 Corvane Ftp Server.");
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
