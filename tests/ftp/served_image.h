// A server object in this process, serving an image formatted by the real
// vrax-mkfs and mounted as drive "/1", on a free loopback port.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "control_client.h"
#include "fileio/vrax_io.h"
#include "ftp/ftp_server.h"
#include "support/temp_file.h"

namespace vrax::ftp::test {

class ServedImage : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An account with every privilege and no limit.
  FtpUser* AddFullUser(const char* name, const char* password, const char* start = "/1");
  std::unique_ptr<ControlClient> Connect();
  // Waits until `condition` holds (up to 5 seconds).
  static bool Eventually(const std::function<bool()>& condition);

  vrax::test::TempDir dir_;
  std::string image_;
  std::unique_ptr<VraxInterface> mount_;
  std::unique_ptr<CFtpServer> server_;
  uint16_t port_ = 0;
};

}  // namespace vrax::ftp::test
