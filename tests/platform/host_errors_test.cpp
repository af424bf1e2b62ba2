// Host failures as system error numbers, and the text of those numbers.
#include "platform/host_errors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "support/temp_file.h"

namespace vrax {
namespace {

// One line of text, starting with a capital letter.
void ExpectOneLine(int32_t number) {
  const char* text = SystemErrorText(number);
  ASSERT_NE(text, nullptr) << number;
  const std::string s(text);
  ASSERT_GE(s.size(), 2u) << number;
  EXPECT_EQ(s.find('\n'), s.size() - 1) << number;
  EXPECT_EQ(s.find('\r'), std::string::npos) << number;
  EXPECT_TRUE(s[0] >= 'A' && s[0] <= 'Z') << number;
}

// Whatever a host failure turns into is a failure with a printable text;
// numbers without text make callers fall back to "ERROR #%d\n".
TEST(ErrorFromErrno, MapsHostConditionsToSystemNumbersWithText) {
  const std::pair<int, int32_t> cases[] = {
      {ENOENT, 2}, {EACCES, 5}, {EWOULDBLOCK, 32}, {ENOSPC, 39}, {EIO, 1117},
  };
  for (const auto& [err, expected] : cases) {
    EXPECT_EQ(ErrorFromErrno(err), expected) << "errno " << err;
  }
  EXPECT_EQ(ErrorFromErrno(0), -1);  // the host failed without saying why
  EXPECT_EQ(ErrorFromErrno(12345), kErrIoDevice);
  for (int err = 1; err < 200; ++err) {
    ASSERT_NE(ErrorFromErrno(err), 0) << "errno " << err;
    ExpectOneLine(ErrorFromErrno(err));
  }
  for (int32_t n : {1, 8, 27, 33, 112, 114, 160, 1462}) ExpectOneLine(n);
  EXPECT_STREQ(SystemErrorText(2), "The system cannot find the file specified.\n");
  for (int32_t n : {0, -1, INT32_MIN, 0x34FF}) EXPECT_EQ(SystemErrorText(n), nullptr) << n;
}

TEST(LastHostError, ReportsTheFailedCall) {
  test::TempDir dir;
  errno = 0;
  ASSERT_LT(open(dir.File("missing").c_str(), O_RDONLY), 0);
  EXPECT_EQ(LastHostError(), kErrFileNotFound);
  errno = 0;
  ASSERT_LT(close(-1), 0);
  EXPECT_EQ(LastHostError(), kErrInvalidHandle);
}

}  // namespace
}  // namespace vrax
