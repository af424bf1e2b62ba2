#include "ftp/line_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ftp/command_line.h"

namespace vrax::ftp {
namespace {

// Hands out the given packets one receive at a time (each cut to the room
// the reader offers), then reports the connection closed.
class Packets {
 public:
  explicit Packets(std::vector<std::string> packets) : packets_(std::move(packets)) {}
  LineReader::Receive Receiver() {
    return [this](char* buffer, size_t size) -> long {
      ++receives_;
      offered_.push_back(size);
      if (next_ >= packets_.size()) return 0;
      std::string& packet = packets_[next_];
      const size_t n = std::min(size, packet.size());
      std::memcpy(buffer, packet.data(), n);
      packet.erase(0, n);
      if (packet.empty()) ++next_;
      return static_cast<long>(n);
    };
  }
  int receives_ = 0;
  std::vector<size_t> offered_;

 private:
  std::vector<std::string> packets_;
  size_t next_ = 0;
};

TEST(LineReader, CrLfAndBareLfEndLines) {
  Packets packets({"USER bob\r\n", "PASS x\n"});
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(line, "USER bob");
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(line, "PASS x");
  EXPECT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kClosed);
}

TEST(LineReader, SeveralCommandsInOnePacketComeOutInOrder) {
  Packets packets({"NOOP\r\nSYST\nPWD\r\n"});
  LineReader reader;
  std::string line;
  const auto receive = packets.Receiver();
  for (const char* expected : {"NOOP", "SYST", "PWD"}) {
    ASSERT_EQ(reader.Next(receive, line), LineReader::Result::kLine);
    EXPECT_EQ(line, expected);
  }
  EXPECT_EQ(packets.receives_, 1);
}

TEST(LineReader, ALineMaySpanSeveralPackets) {
  Packets packets({"RE", "TR a", ".txt\r", "\n"});
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(line, "RETR a.txt");
}

TEST(LineReader, ACarriageReturnAloneIsPartOfTheLine) {
  Packets packets({"A\rB\n"});
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(line, "A\rB");
}

TEST(LineReader, NeverAsksForMoreThanTheLineLimit) {
  Packets packets({std::string(300, 'x')});
  LineReader reader;
  std::string line;
  EXPECT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kTooLong);
  size_t total = 0;
  for (size_t offered : packets.offered_) total += offered;
  EXPECT_EQ(packets.offered_.front(), kMaxLineBytes);
  EXPECT_EQ(total, kMaxLineBytes);
}

TEST(LineReader, TheLongestLineFits) {
  const std::string body(kMaxLineBytes - 2, 'y');
  Packets packets({body + "\r\n"});
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(line, body);
}

TEST(LineReader, BytesAfterALineKeepTheirPlaceInTheLimit) {
  // The first line leaves 270 bytes behind; the next receive may only add
  // what still fits in the limit.
  Packets packets({"A\n" + std::string(270, 'z'), std::string(10, 'z') + "\n"});
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kTooLong);
}

TEST(LineReader, ZeroBytesStayInTheLine) {
  Packets packets({std::string("NO\0OP\r\n", 7)});
  LineReader reader;
  std::string line;
  ASSERT_EQ(reader.Next(packets.Receiver(), line), LineReader::Result::kLine);
  EXPECT_EQ(line, std::string("NO\0OP", 5));
}

TEST(LineReader, AnErrorEndsReading) {
  LineReader reader;
  std::string line;
  EXPECT_EQ(reader.Next([](char*, size_t) { return -1L; }, line), LineReader::Result::kClosed);
}

TEST(CommandLine, SplitsAtTheFirstBlank) {
  CommandLine c = ParseCommandLine("stor my file.txt");
  EXPECT_EQ(c.word, "STOR");
  EXPECT_TRUE(c.hasArgument);
  EXPECT_EQ(c.argument, "my file.txt");
  CommandLine blank = ParseCommandLine("CWD ");
  EXPECT_TRUE(blank.hasArgument);
  EXPECT_EQ(blank.argument, "");
  CommandLine none = ParseCommandLine("Pwd");
  EXPECT_EQ(none.word, "PWD");
  EXPECT_FALSE(none.hasArgument);
  CommandLine type = ParseCommandLine("type A N");
  EXPECT_EQ(type.argument, "A N");
}

TEST(CommandLine, OnlyAsciiLettersAreRaised) {
  EXPECT_EQ(ParseCommandLine("x\xe9y").word, "X\xe9Y");
}

TEST(CommandLine, AZeroByteGivesNoCommand) {
  CommandLine c = ParseCommandLine(std::string("DELE a\0b", 8));
  EXPECT_EQ(c.word, "");
  EXPECT_FALSE(c.hasArgument);
}

TEST(CommandLine, TelnetSequencesAreDropped) {
  std::string abort = "\xff\xf4\xff\xf2" "ABOR";
  StripTelnetCommands(abort);
  EXPECT_EQ(abort, "ABOR");
  std::string negotiation = "\xff\xfb\x01NOOP";
  StripTelnetCommands(negotiation);
  EXPECT_EQ(negotiation, "NOOP");
  std::string escaped = "RETR a\xff\xff" "b";
  StripTelnetCommands(escaped);
  EXPECT_EQ(escaped, "RETR a\xff" "b");
  std::string trailing = "NOOP\xff";
  StripTelnetCommands(trailing);
  EXPECT_EQ(trailing, "NOOP");
}

}  // namespace
}  // namespace vrax::ftp
