// vrax-fsck: checks a VRAX volume and, when asked, repairs it.
//
//   vrax-fsck [-v] [--repair | -y] IMAGE
//
// Prints one line per finding on standard output; with -v also notes and a
// summary. Exit codes: exit_codes.h.
#include <cstdio>
#include <cstring>
#include <string>

#include "exit_codes.h"
#include "fsck.h"

namespace {

constexpr char kUsage[] =
    "Usage: vrax-fsck [-v] [--repair | -y] IMAGE\n"
    "Checks the VRAX volume in IMAGE (a file or a block device). Without --repair it only\n"
    "reads. Prints one line per finding; a line starting \"leak: \" is space marked in use\n"
    "that nothing uses (what a crash may leave), every other line is damage.\n"
    "  -v          also print notes and a summary\n"
    "  --repair    repair what can be repaired safely, one line per repair; takes the\n"
    "  -y          volume exclusively (refused while vrax or another program has it open)\n"
    "Exit codes: 0 clean, 1 repaired (the volume is now clean), 2 the volume cannot be read,\n"
    "4 problems left, 8 the volume is in use.\n";

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

int main(int argc, char** argv) {
  using namespace vrax::fsck;
  CheckOptions options;
  std::string image;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && Is(arg, "--")) {
      optionsEnded = true;
    } else if (!optionsEnded && Is(arg, "-v")) {
      options.verbose = true;
    } else if (!optionsEnded && (Is(arg, "--repair") || Is(arg, "-y"))) {
      options.repair = true;
    } else if (!optionsEnded && (Is(arg, "-h") || Is(arg, "--help"))) {
      std::fputs(kUsage, stdout);
      return kExitClean;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "vrax-fsck: unknown option %s\n%s", arg, kUsage);
      return kExitUnreadable;
    } else if (image.empty()) {
      image = arg;
    } else {
      std::fprintf(stderr, "vrax-fsck: more than one image given\n%s", kUsage);
      return kExitUnreadable;
    }
  }
  if (image.empty()) {
    std::fprintf(stderr, "vrax-fsck: no image given\n%s", kUsage);
    return kExitUnreadable;
  }
  return CheckVolume(image, options, stdout, stderr);
}
