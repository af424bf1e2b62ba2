// Splits a command line into its command word and argument.
#pragma once

#include <string>

namespace vrax::ftp {

struct CommandLine {
  std::string word;       // upper case (letters a to z only)
  bool hasArgument = false;
  std::string argument;   // everything after the first blank, as sent
};

// Removes Telnet command sequences (IAC ...), which clients put in front of
// ABOR to interrupt a transfer; IAC IAC stands for one byte 255.
void StripTelnetCommands(std::string& line);

// The first blank ends the command word; the rest of the line is the
// argument, further blanks included. A line that holds a zero byte gets an
// empty word, which no command matches.
CommandLine ParseCommandLine(std::string line);

}  // namespace vrax::ftp
