#include "ftp/command_line.h"

namespace vrax::ftp {

namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kWill = 251;  // WILL, WONT, DO and DONT take an option byte
constexpr unsigned char kDont = 254;

// The length of the Telnet sequence that starts at `i` (an IAC byte).
size_t SequenceLength(const std::string& line, size_t i) {
  if (i + 1 >= line.size()) return 1;
  const auto command = static_cast<unsigned char>(line[i + 1]);
  if (command >= kWill && command <= kDont) return i + 2 < line.size() ? 3 : 2;
  return 2;
}

}  // namespace

void StripTelnetCommands(std::string& line) {
  std::string kept;
  kept.reserve(line.size());
  for (size_t i = 0; i < line.size();) {
    if (static_cast<unsigned char>(line[i]) != kIac) {
      kept += line[i++];
    } else if (i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) == kIac) {
      kept += line[i];
      i += 2;
    } else {
      i += SequenceLength(line, i);
    }
  }
  line.swap(kept);
}

CommandLine ParseCommandLine(std::string line) {
  CommandLine parsed;
  if (line.find('\0') != std::string::npos) return parsed;
  const size_t blank = line.find(' ');
  parsed.word = line.substr(0, blank);
  if (blank != std::string::npos) {
    parsed.hasArgument = true;
    parsed.argument = line.substr(blank + 1);
  }
  for (char& c : parsed.word) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return parsed;
}

}  // namespace vrax::ftp
