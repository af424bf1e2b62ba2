// The command line of vrax: options, usage text and the settings block.
#pragma once

#include <string>

namespace vrax::app {

struct Options {
  int anonymous = 0;         // -a, counted
  int noBuffering = 0;       // -b, counted
  int device = 1;            // -d=<num>: the drive is "/<num>"
  int port = 21;             // -f=<num>
  std::string password;      // -p=<str>
  std::string login = "kel"; // -u=<str>
  int readOnly = 0;          // -w, counted
  int debug = 0;             // -z, counted
  std::string image;         // -i=<str>: disk image or block device for the drive
  bool help = false;         // -h or --help: print the usage text and stop
  std::string listenAddress; // -l=<address>: the one address to listen on (default: all)
  int idleSeconds = 300;     // -t=<seconds>: idle time after which a connection is closed
  int maxConnections = 200;  // -c=<num>: most simultaneous connections
  std::string tlsFile;       // -k=<file>: PEM certificate and key; offers AUTH TLS
  int tlsRequired = 0;       // -s, counted: logins need TLS (only with -k)
};

// The program's name line, printed first.
inline constexpr const char* kBanner = "Tarnview - VRAX Disk Mounter v2.05\n";

// Reads the words after the program name. "--help" asks for the usage text;
// any other word that starts with "--" is invalid. Otherwise a word is an
// option word when it starts with '-' and its second character lies above
// '9' and below 128; other words are ignored. In an option word every
// character is taken in lower case: a, b, w and z count, h asks for the
// usage text, s counts, d, f, p, u, i, l, t, c and k take a value (the rest of the word
// after '=', or the empty text when no '=' follows the letter). The value of
// f must be a decimal port number from 1 to 65535, that of l an IPv4 or IPv6
// address, that of t a number of seconds from 1 to 604800 (a week), that of
// c a number from 1 to 100000, that of k a file name. Any other character,
// a bad port or address, or -s without -k, makes the whole command line
// invalid: false, with the offending word in `invalidWord` when it is given.
bool ParseOptions(int argc, const char* const* argv, Options& options,
                  std::string* invalidWord = nullptr);

// The option list and the exit codes.
std::string UsageText();
// The block that shows the settings in force.
std::string SettingsText(const Options& options);
// "/<device>"
std::string DrivePath(const Options& options);

}  // namespace vrax::app
