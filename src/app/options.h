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
};

// The program's name line, printed first.
inline constexpr const char* kBanner = "Tarnview - VRAX Disk Mounter v2.05\n";

// Reads the words after the program name. A word is an option word when it
// starts with '-' and its second character lies above '9' and below 128;
// other words are ignored. In an option word every character is taken in
// lower case: a, b, w and z count, d, f, p, u and i take a value (the rest
// of the word after '=', or the empty text when no '=' follows the letter).
// Any other character makes the whole command line invalid: false.
bool ParseOptions(int argc, const char* const* argv, Options& options);

std::string UsageText();
// The block that shows the settings in force.
std::string SettingsText(const Options& options);
// "/<device>"
std::string DrivePath(const Options& options);

}  // namespace vrax::app
