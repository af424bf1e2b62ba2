#include "ftp/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ftp/command_line.h"

namespace vrax::ftp {
namespace {

// Every line the reader hands out for the packets (each cut to the room the
// reader offers per receive), then "<closed>" or "<too long>" for how reading
// ended; `offered` adds up the room offered.
std::vector<std::string> ReadAll(std::vector<std::string> packets, size_t* offered = nullptr) {
  size_t next = 0;
  const LineReader::Receive receive = [&](char* buffer, size_t size) -> long {
    if (offered != nullptr) *offered += size;
    if (next >= packets.size()) return 0;
    std::string& packet = packets[next];
    const size_t n = std::min(size, packet.size());
    std::memcpy(buffer, packet.data(), n);
    packet.erase(0, n);
    if (packet.empty()) ++next;
    return static_cast<long>(n);
  };
  LineReader reader;
  std::vector<std::string> lines;
  std::string line;
  for (;;) {
    const LineReader::Result result = reader.Next(receive, line);
    if (result == LineReader::Result::kLine) {
      lines.push_back(line);
      continue;
    }
    lines.push_back(result == LineReader::Result::kClosed ? "<closed>" : "<too long>");
    return lines;
  }
}

using Lines = std::vector<std::string>;

TEST(LineReader, SplitsTheStreamIntoLines) {
  const std::string longest(kMaxLineBytes - 2, 'y');
  const struct {
    Lines packets, lines;
  } cases[] = {
      {{"USER bob\r\n", "PASS x\n"}, {"USER bob", "PASS x", "<closed>"}},
      {{"NOOP\r\nSYST\nPWD\r\n"}, {"NOOP", "SYST", "PWD", "<closed>"}},
      {{"RE", "TR a", ".txt\r", "\n"}, {"RETR a.txt", "<closed>"}},
      {{"A\rB\n"}, {"A\rB", "<closed>"}},  // a carriage return alone is part of the line
      {{std::string("NO\0OP\r\n", 7)}, {std::string("NO\0OP", 5), "<closed>"}},
      {{longest + "\r\n"}, {longest, "<closed>"}},
      // The first line leaves 270 bytes behind; the next receive may only
      // add what still fits in the limit.
      {{"A\n" + std::string(270, 'z'), std::string(10, 'z') + "\n"}, {"A", "<too long>"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAll(c.packets), c.lines) << c.lines[0];
  // A line over the limit: the reader never asks for more than the limit.
  size_t offered = 0;
  EXPECT_EQ(ReadAll({std::string(300, 'x')}, &offered), Lines{"<too long>"});
  EXPECT_EQ(offered, kMaxLineBytes);
  LineReader reader;
  std::string line;
  EXPECT_EQ(reader.Next([](char*, size_t) { return -1L; }, line), LineReader::Result::kClosed);
}

TEST(CommandLine, SplitsAtTheFirstBlank) {
  const struct {
    std::string text, word;
    bool hasArgument;
    std::string argument;
  } cases[] = {
      {"stor my file.txt", "STOR", true, "my file.txt"}, {"CWD ", "CWD", true, ""},
      {"Pwd", "PWD", false, ""}, {"type A N", "TYPE", true, "A N"},
      {"x\xe9y", "X\xe9Y", false, ""},  // only ASCII letters are raised
      {std::string("DELE a\0b", 8), "", false, ""},  // a zero byte: no command
  };
  for (const auto& c : cases) {
    const CommandLine parsed = ParseCommandLine(c.text);
    EXPECT_EQ(parsed.word, c.word) << c.word;
    EXPECT_EQ(parsed.hasArgument, c.hasArgument) << c.word;
    EXPECT_EQ(parsed.argument, c.argument) << c.word;
  }
}

TEST(CommandLine, TelnetSequencesAreDropped) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xff\xf4\xff\xf2" "ABOR", "ABOR"},
      {"\xff\xfb\x01NOOP", "NOOP"},
      {"RETR a\xff\xff" "b", "RETR a\xff" "b"},
      {"NOOP\xff", "NOOP"},
  };
  for (auto [text, expected] : cases) {
    StripTelnetCommands(text);
    EXPECT_EQ(text, expected);
  }
}

}  // namespace
}  // namespace vrax::ftp
