#include "ftp/line_reader.h"

#include <cstring>

namespace vrax::ftp {

void LineReader::DropConsumed() {
  std::memmove(buffer_, buffer_ + consumed_, filled_ - consumed_);
  filled_ -= consumed_;
  consumed_ = 0;
}

LineReader::Result LineReader::Next(const Receive& receive, std::string& line) {
  DropConsumed();
  const char* feed;
  while ((feed = static_cast<const char*>(std::memchr(buffer_, '\n', filled_))) == nullptr) {
    if (filled_ >= kMaxLineBytes) return Result::kTooLong;
    if (ended_) return Result::kClosed;
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

bool LineReader::Fill(const Receive& receive) {
  DropConsumed();
  if (ended_ || filled_ >= kMaxLineBytes) return false;
  const long n = receive(buffer_ + filled_, kMaxLineBytes - filled_);
  if (n == kNothingYet) return true;
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  filled_ += static_cast<size_t>(n);
  return true;
}

bool LineReader::AnyLine(const std::function<bool(const std::string&)>& test) const {
  size_t start = consumed_;
  while (start < filled_) {
    const auto* feed = static_cast<const char*>(std::memchr(buffer_ + start, '\n', filled_ - start));
    if (feed == nullptr) return false;
    size_t end = static_cast<size_t>(feed - buffer_);
    const size_t next = end + 1;
    if (end > start && buffer_[end - 1] == '\r') --end;
    if (test(std::string(buffer_ + start, end - start))) return true;
    start = next;
  }
  return false;
}

}  // namespace vrax::ftp
