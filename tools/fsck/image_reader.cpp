#include "image_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "volume/format/bytes.h"

namespace vrax::fsck {

ImageReader::~ImageReader() {
  if (fd_ >= 0) close(fd_);
}

bool ImageReader::Open(const std::string& path, std::string& error) {
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error = strerror(errno);
    return false;
  }
  // Seeking to the end gives the size of regular files and block devices alike.
  const off_t end = lseek(fd_, 0, SEEK_END);
  if (end < 0) {
    error = strerror(errno);
    return false;
  }
  size_ = static_cast<uint64_t>(end);
  return true;
}

bool ImageReader::Read(uint64_t offset, void* buffer, size_t length) const {
  if (fd_ < 0 || !InBounds(offset, length, size_)) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace vrax::fsck
