#include "app/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/sockets.h"

namespace vrax::app {

namespace {

constexpr const char* kSeparator = "   -------------------------------------------------------\n";

bool IsOptionWord(const char* word) {
  const auto second = static_cast<unsigned char>(word[0] == '-' ? word[1] : 0);
  return word[0] == '-' && second > '9' && second < 128;
}

// Leading digits after an optional sign; 0 when there are none. Values
// beyond the range of int are clamped.
int DecimalValue(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

constexpr int kMaxPort = 65535;
constexpr int kMaxIdleSeconds = 604800;
constexpr int kMaxConnectionsLimit = 100000;

// A number of decimal digits only, from `low` to `high`. Anything else
// (empty, signed, trailing text, out of range) gives false, so a typing
// slip never makes the server listen on a port nobody asked for or run
// with a limit nobody meant.
bool BoundedValue(const std::string& text, int low, int high, int& result) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  result = value;
  return true;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The value of a value letter at `word[i]`; moves `i` to where parsing goes on.
std::string TakeValue(const std::string& word, size_t& i) {
  if (i + 1 < word.size() && word[i + 1] == '=') {
    std::string value = word.substr(i + 2);
    i = word.size();
    return value;
  }
  ++i;
  return std::string();
}

bool ParseWord(const std::string& word, Options& o) {
  NetAddress address;
  for (size_t i = 1; i < word.size();) {
    switch (Lower(word[i])) {
      case 'a': ++o.anonymous; ++i; break;
      case 'b': ++o.noBuffering; ++i; break;
      case 'w': ++o.readOnly; ++i; break;
      case 'z': ++o.debug; ++i; break;
      case 'h': o.help = true; ++i; break;
      case 's': ++o.tlsRequired; ++i; break;
      case 'k':
        if ((o.tlsFile = TakeValue(word, i)).empty()) return false;
        break;
      case 'd': o.device = DecimalValue(TakeValue(word, i)); break;
      case 'f':
        if (!BoundedValue(TakeValue(word, i), 1, kMaxPort, o.port)) return false;
        break;
      case 't':
        if (!BoundedValue(TakeValue(word, i), 1, kMaxIdleSeconds, o.idleSeconds)) return false;
        break;
      case 'c':
        if (!BoundedValue(TakeValue(word, i), 1, kMaxConnectionsLimit, o.maxConnections)) {
          return false;
        }
        break;
      case 'p': o.password = TakeValue(word, i); break;
      case 'u': o.login = TakeValue(word, i); break;
      case 'i': o.image = TakeValue(word, i); break;
      case 'l':
        if (!ParseNetAddress(o.listenAddress = TakeValue(word, i), &address)) return false;
        break;
      default: return false;
    }
  }
  return true;
}

// A word of the long form ("--..."): only --help is known.
bool ParseLongWord(const std::string& word, Options& o) {
  if (word != "--help") return false;
  o.help = true;
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string* invalidWord) {
  for (int n = 1; n < argc; ++n) {
    if (argv[n] == nullptr) continue;
    const std::string word = argv[n];
    const bool isLong = word.rfind("--", 0) == 0;
    if (!isLong && !IsOptionWord(argv[n])) continue;
    if (isLong ? ParseLongWord(word, options) : ParseWord(word, options)) continue;
    if (invalidWord != nullptr) *invalidWord = word;
    return false;
  }
  if (options.tlsRequired && options.tlsFile.empty()) {
    if (invalidWord != nullptr) *invalidWord = "-s (needs -k=<file>)";
    return false;
  }
  return true;
}

std::string UsageText() {
  std::string text;
  text += "usage vrax -<options>\n";
  text += "  -a        Allow anonymous logins\n";
  text += "  -d=<num>  Specify windows device to mount (default 1)\n";
  text += "  -i=<str>  Specify disk image or block device to mount\n";
  text += "  -l=<addr> Specify one IPv4 or IPv6 address to listen on (default all)\n";
  text += "  -w        No write - mount drive for read only\n";
  text += "  -b        No buffer - disable caching\n";
  text += "  -f=<num>  Specify FTP port number to listen on, 1 to 65535 (default 21)\n";
  text += "  -p=<str>  Specify password to use for non anonymous logins\n";
  text += "  -u=<str>  Specify user name for non anonymous logins\n";
  text += "  -t=<sec>  Close a connection idle this many seconds (default 300)\n";
  text += "  -c=<num>  Most simultaneous connections (default 200; 32 per address)\n";
  text += "  -k=<file> Offer TLS (AUTH TLS) with this PEM certificate and key\n";
  text += "  -s        Logins need TLS (with -k)\n";
  text += kSeparator;
  text += "  -z        Enable Debug\n";
  text += "  -h        Show this text and exit (also --help)\n";
  text += kSeparator;
  text += "exit codes: 0 stopped by a signal (or help shown), 1 invalid command line,\n";
  text += "  2 the drive cannot be mounted, 3 the account cannot be created,\n";
  text += "  4 the FTP port cannot be bound, 5 connections cannot be accepted,\n";
  text += "  6 the TLS certificate or key cannot be used\n";
  return text;
}

std::string SettingsText(const Options& o) {
  std::string text = kSeparator;
  text += "    FTP Server Port: " + std::to_string(o.port) + "\n";
  text += std::string("          Anonymous: ") + (o.anonymous ? "Allowed" : "Disabled") + "\n";
  text += "         Login Name: " + o.login + "\n";
  // The password itself is never shown: the block ends up in logs.
  text += std::string("           Password: ") + (o.password.empty() ? "<none>" : "<set>") + "\n";
  text += kSeparator;
  return text;
}

std::string DrivePath(const Options& options) { return "/" + std::to_string(options.device); }

}  // namespace vrax::app
