// The host disk (opens, locks, exact and unbuffered transfers) and host
// failures as system error numbers with their text.
#include "platform/host_disk.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/error_codes.h"
#include "platform/error_text.h"
#include "platform/host_errors.h"
#include "support/temp_file.h"

namespace vrax {
namespace {

using namespace test;

// Closes the disk whatever the test's outcome.
struct ScopedDisk {
  HostDisk disk;
  ~ScopedDisk() { HostDiskClose(disk); }
  int32_t Open(const std::string& path, bool writable, bool unbuffered = false) {
    return HostDiskOpen(path, writable, unbuffered, disk);
  }
};

// Images open write-through and close on exec; transfers move exact bytes;
// failures come back as system numbers.
TEST(HostDisk, OpensWriteThroughMovesExactBytesAndMapsFailures) {
  TempDir dir;
  const std::string image = MakeImage(dir, "disk.img", 16 * 512);
  ScopedDisk d;
  ASSERT_EQ(d.Open(image, true), kOk);
  // Write-through is per write (RWF_DSYNC), so that relaxed writes can skip it.
  EXPECT_EQ(fcntl(d.disk.fd, F_GETFL) & (O_DIRECT | O_ACCMODE), O_RDWR);
  EXPECT_TRUE(d.disk.writeThrough);
  EXPECT_NE(fcntl(d.disk.fd, F_GETFD) & FD_CLOEXEC, 0);
  const std::vector<uint8_t> data = PatternBytes(1000, 77);
  ASSERT_EQ(HostDiskWrite(d.disk, data.data(), 1000, 1234), kOk);
  std::vector<uint8_t> back(1000);
  ASSERT_EQ(HostDiskRead(d.disk, back.data(), 1000, 1234), kOk);
  EXPECT_EQ(back, data);
  std::vector<uint8_t> expected = PatternBytes(16 * 512);
  std::copy(data.begin(), data.end(), expected.begin() + 1234);
  EXPECT_EQ(ReadFileBytes(image), expected);
  EXPECT_EQ(HostDiskRead(d.disk, back.data(), 0, 0), kOk);
  EXPECT_EQ(HostDiskRead(d.disk, back.data(), 512, kHostDiskMaxOffset), kErrInvalidParameter);
  HostDiskClose(d.disk);
  EXPECT_EQ(HostDiskRead(d.disk, back.data(), 512, 0), kErrInvalidHandle);
  ASSERT_EQ(d.Open(image, false), kOk);
  EXPECT_EQ(HostDiskWrite(d.disk, back.data(), 512, 0), kErrInvalidHandle);
  ScopedDisk bad;
  EXPECT_EQ(bad.Open(dir.path(), true), kErrAccessDenied);  // a directory is no disk
  ASSERT_EQ(bad.Open(dir.path(), false), kOk);
  EXPECT_EQ(HostDiskGeometry(bad.disk), kErrInvalidFunction);
  // Character devices refuse O_DIRECT on every Linux: an unbuffered open
  // carries on write-through and says so.
  ScopedDisk null;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(null.Open("/dev/null", false, true), kOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Unbuffered I/O not supported for /dev/null; using write-through\n");
  EXPECT_FALSE(null.disk.direct);
  EXPECT_TRUE(null.disk.writeThrough);
}

// Locks belong to the open, so two opens in one process conflict like two
// processes would: readers share, a writer is alone.
TEST(HostDiskLocking, WritersAreExclusiveAndReadersShare) {
  TempDir dir;
  const std::string image = MakeImage(dir, "disk.img", 4096);
  ScopedDisk writer, second;
  ASSERT_EQ(writer.Open(image, true), kOk);
  EXPECT_EQ(second.Open(image, true), kErrSharingViolation);
  EXPECT_EQ(second.Open(image, false), kErrSharingViolation);
  HostDiskClose(writer.disk);
  ScopedDisk reader1, reader2;
  ASSERT_EQ(reader1.Open(image, false), kOk);
  ASSERT_EQ(reader2.Open(image, false), kOk);
  EXPECT_EQ(writer.Open(image, true), kErrSharingViolation);
  HostDiskClose(reader1.disk);
  HostDiskClose(reader2.disk);
  EXPECT_EQ(second.Open(image, true), kOk);  // closing released the locks
}

// Unbuffered opens need a file system that supports them: /var/tmp is a
// real one on every machine this runs on, unlike a tmpfs /tmp.
class UnbufferedDisk : public ::testing::Test {
 protected:
  static constexpr size_t kImageSize = 3 * 8192 + 100;  // ends inside a block

  void SetUp() override {
    image_ = MakeImage(dir_, "disk.img", kImageSize);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(d_.Open(image_, true, true), kOk);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(HostDiskGeometry(d_.disk), kOk);
    if (!d_.disk.direct) GTEST_SKIP() << "the file system of /var/tmp refuses unbuffered I/O";
    EXPECT_EQ(fcntl(d_.disk.fd, F_GETFL) & O_DIRECT, O_DIRECT);
    expected_ = PatternBytes(kImageSize);
  }

  void Write(size_t offset, size_t length, uint8_t seed, size_t misalign) {
    std::vector<uint8_t> storage(length + misalign);
    const std::vector<uint8_t> data = PatternBytes(length, seed);
    std::memcpy(storage.data() + misalign, data.data(), length);
    ASSERT_EQ(HostDiskWrite(d_.disk, storage.data() + misalign, static_cast<uint32_t>(length),
                            offset),
              kOk);
    if (expected_.size() < offset + length) expected_.resize(offset + length, 0);
    std::copy(data.begin(), data.end(), expected_.begin() + static_cast<long>(offset));
  }

  TempDir dir_{"/var/tmp"};
  std::string image_;
  ScopedDisk d_;
  std::vector<uint8_t> expected_;
};

// Reads of any length at any offset into any buffer; reads reaching past
// the end are short.
TEST_F(UnbufferedDisk, ReadsAnyBufferLengthAndOffset) {
  const std::vector<uint8_t> all = PatternBytes(kImageSize);
  const std::pair<size_t, size_t> ranges[] = {{0, 512},     {1, 1},       {511, 2},
                                              {700, 9000},  {8192, 8192}, {kImageSize - 33, 33}};
  for (size_t misalign : {0, 1, 7}) {
    for (const auto& [offset, length] : ranges) {
      SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(length) + " misaligned by " +
                   std::to_string(misalign));
      std::vector<uint8_t> storage(length + misalign, 0xEE);
      ASSERT_EQ(HostDiskRead(d_.disk, storage.data() + misalign, static_cast<uint32_t>(length),
                             offset),
                kOk);
      EXPECT_TRUE(std::equal(storage.begin() + static_cast<long>(misalign), storage.end(),
                             all.begin() + static_cast<long>(offset)));
    }
  }
  std::vector<uint8_t> buffer(16384);
  alignas(8192) static uint8_t aligned[8192];
  ASSERT_LE(d_.disk.ioAlign, sizeof aligned);
  const uint64_t lastBlock = kImageSize - kImageSize % d_.disk.ioAlign;
  EXPECT_EQ(HostDiskRead(d_.disk, buffer.data() + 1, 200, kImageSize - 100), -1);
  EXPECT_EQ(HostDiskRead(d_.disk, aligned, d_.disk.ioAlign, lastBlock), -1);
  EXPECT_EQ(HostDiskRead(d_.disk, buffer.data() + 1, 10, kImageSize + 4096), -1);
}

// Partial blocks are read, patched and written back: the bytes around stay,
// the image keeps its size when a write ends inside its last block and
// grows like a plain write past its end (the gap reads as zeros). Large
// writes go through in pieces.
TEST_F(UnbufferedDisk, UnalignedWritesKeepTheBytesAroundAndTheSize) {
  Write(3, 5, 1, 1);                  // inside one block
  Write(4090, 20, 2, 3);              // across a block boundary
  Write(512, 4096, 3, 5);             // aligned on disk, misaligned in memory
  Write(8191, 8194, 4, 0);            // partial at both ends
  Write(kImageSize - 50, 10, 5, 1);   // inside the last block
  EXPECT_EQ(FileSize(image_), kImageSize);
  Write(kImageSize + 20, 10, 6, 2);
  EXPECT_EQ(FileSize(image_), kImageSize + 30);
  Write(300, (3u << 20) + 777, 9, 1);
  EXPECT_EQ(ReadFileBytes(image_), expected_);
}

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
  for (const auto& [err, expected] : cases) EXPECT_EQ(ErrorFromErrno(err), expected) << err;
  EXPECT_EQ(ErrorFromErrno(0), -1);  // the host failed without saying why
  EXPECT_EQ(ErrorFromErrno(12345), kErrIoDevice);
  for (int err = 1; err < 200; ++err) ExpectOneLine(ErrorFromErrno(err));
  for (int32_t n : {1, 8, 27, 33, 112, 114, 160, 1462}) ExpectOneLine(n);
  EXPECT_STREQ(SystemErrorText(2), "The system cannot find the file specified.\n");
  for (int32_t n : {0, -1, INT32_MIN, 0x34FF}) EXPECT_EQ(SystemErrorText(n), nullptr) << n;
}

}  // namespace
}  // namespace vrax
