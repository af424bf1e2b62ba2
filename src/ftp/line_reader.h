// Reads command lines from the control connection.
//
// The buffer holds at most kMaxLineBytes received bytes. A line ends at the
// first line feed; a carriage return right before it is dropped too, so both
// CR LF and a bare LF end a line. Bytes that follow a line stay buffered for
// the next one, so several commands may arrive in one packet. The reader
// never looks at bytes beyond those received.
//
// While the session waits for something else (a data connection), Fill
// takes what arrives into the buffer without handing out lines, and
// AnyLine looks at the complete lines buffered: they are handed out later,
// in order, and a connection end seen by Fill is reported after them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "ftp/ftp_limits.h"

namespace vrax::ftp {

class LineReader {
 public:
  enum class Result {
    kLine,     // `line` holds the next line without its terminator
    kClosed,   // the receive reported the end of the connection or an error
    kTooLong,  // kMaxLineBytes bytes buffered without a line feed
  };
  // Receives into `buffer` at most `size` bytes: the count, 0 when the peer
  // closed, -1 on error; kNothingYet when nothing could be taken without
  // waiting (Fill only).
  using Receive = std::function<long(char* buffer, size_t size)>;

  static constexpr long kNothingYet = -2;

  Result Next(const Receive& receive, std::string& line);
  // Drops every buffered byte after the last line handed out: what a
  // client sent before a change of protection must not count after it.
  void DiscardBuffered() { filled_ = consumed_; }

  // One receive into the free room of the buffer; false when the
  // connection ended (or the buffer has no room).
  bool Fill(const Receive& receive);
  // True when a complete line in the buffer (its terminator dropped)
  // satisfies `test`.
  bool AnyLine(const std::function<bool(const std::string&)>& test) const;
  // The buffer holds kMaxLineBytes bytes: Fill can take no more.
  bool full() const { return filled_ - consumed_ >= kMaxLineBytes; }

 private:
  void DropConsumed();

  char buffer_[kLineBufferSize] = {};
  size_t filled_ = 0;    // received bytes in the buffer
  size_t consumed_ = 0;  // bytes of the last line and its terminator
  bool ended_ = false;   // Fill saw the end of the connection
};

}  // namespace vrax::ftp
