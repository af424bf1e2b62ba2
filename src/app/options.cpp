#include "app/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

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
  for (size_t i = 1; i < word.size();) {
    switch (Lower(word[i])) {
      case 'a': ++o.anonymous; ++i; break;
      case 'b': ++o.noBuffering; ++i; break;
      case 'w': ++o.readOnly; ++i; break;
      case 'z': ++o.debug; ++i; break;
      case 'd': o.device = DecimalValue(TakeValue(word, i)); break;
      case 'f': o.port = DecimalValue(TakeValue(word, i)); break;
      case 'p': o.password = TakeValue(word, i); break;
      case 'u': o.login = TakeValue(word, i); break;
      case 'i': o.image = TakeValue(word, i); break;
      default: return false;
    }
  }
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options& options) {
  for (int n = 1; n < argc; ++n) {
    if (argv[n] == nullptr || !IsOptionWord(argv[n])) continue;
    if (!ParseWord(argv[n], options)) return false;
  }
  return true;
}

std::string UsageText() {
  std::string text;
  text += "usage vrax -<options>\n";
  text += "  -a        Allow anonymous logins\n";
  text += "  -d=<num>  Specify windows device to mount (default 1)\n";
  text += "  -i=<str>  Specify disk image or block device to mount\n";
  text += "  -w        No write - mount drive for read only\n";
  text += "  -b        No buffer - disable caching\n";
  text += "  -f=<num>  Specify FTP port number to listen on (default 21)\n";
  text += "  -p=<str>  Specify password to use for non anonymous logins\n";
  text += "  -u=<str>  Specify user name for non anonymous logins\n";
  text += kSeparator;
  text += "  -z        Enable Debug\n";
  return text;
}

std::string SettingsText(const Options& o) {
  std::string text = kSeparator;
  text += "    FTP Server Port: " + std::to_string(o.port) + "\n";
  text += std::string("          Anonymous: ") + (o.anonymous ? "Allowed" : "Disabled") + "\n";
  text += "         Login Name: " + o.login + "\n";
  text += "           Password: " + (o.password.empty() ? std::string("<none>") : o.password) + "\n";
  text += kSeparator;
  return text;
}

std::string DrivePath(const Options& options) { return "/" + std::to_string(options.device); }

}  // namespace vrax::app
