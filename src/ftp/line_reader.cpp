#include "ftp/line_reader.h"

#include <cstring>

namespace vrax::ftp {

LineReader::Result LineReader::Next(const Receive& receive, std::string& line) {
  std::memmove(buffer_, buffer_ + consumed_, filled_ - consumed_);
  filled_ -= consumed_;
  consumed_ = 0;
  const char* feed;
  while ((feed = static_cast<const char*>(std::memchr(buffer_, '\n', filled_))) == nullptr) {
    if (filled_ >= kMaxLineBytes) return Result::kTooLong;
    const long n = receive(buffer_ + filled_, kMaxLineBytes - filled_);
    if (n <= 0) return Result::kClosed;
    filled_ += static_cast<size_t>(n);
  }
  const size_t feedAt = static_cast<size_t>(feed - buffer_);
  size_t end = feedAt;
  if (end > 0 && buffer_[end - 1] == '\r') --end;
  line.assign(buffer_, end);
  consumed_ = feedAt + 1;
  return Result::kLine;
}

}  // namespace vrax::ftp
