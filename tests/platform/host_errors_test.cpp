#include "platform/host_errors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "support/temp_file.h"

namespace vrax {
namespace {

TEST(ErrorFromErrno, MapsHostConditionsToSystemNumbers) {
  const std::pair<int, int32_t> cases[] = {
      {ENOENT, 2},  {ENOTDIR, 3}, {EACCES, 5},    {EBADF, 6},      {EROFS, 19},
      {ENXIO, 21},  {EBUSY, 32},  {EWOULDBLOCK, 32}, {ENOSPC, 39}, {EINVAL, 87},
      {EFBIG, 223}, {EIO, 1117},  {EEXIST, 183},  {ENOTEMPTY, 145}, {ENAMETOOLONG, 161},
  };
  for (const auto& [err, expected] : cases) {
    EXPECT_EQ(ErrorFromErrno(err), expected) << "errno " << err;
  }
}

// Whatever a host failure turns into is a failure with a printable text.
TEST(ErrorFromErrno, NeverTurnsAFailureIntoSuccess) {
  EXPECT_EQ(ErrorFromErrno(0), -1);  // the host failed without saying why
  EXPECT_EQ(ErrorFromErrno(12345), kErrIoDevice);
  for (int err = 1; err < 200; ++err) {
    EXPECT_NE(ErrorFromErrno(err), 0) << "errno " << err;
    EXPECT_NE(SystemErrorText(ErrorFromErrno(err)), nullptr) << "errno " << err;
  }
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
