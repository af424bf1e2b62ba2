// vrax-fsck: checks a VRAX volume without changing it.
//
//   vrax-fsck [-v] IMAGE
//
// Prints one line per problem on standard output; with -v also a summary.
// Exit codes: exit_codes.h.
#include <cstdio>
#include <cstring>
#include <string>

#include "exit_codes.h"
#include "fsck.h"

namespace {

constexpr char kUsage[] =
    "Usage: vrax-fsck [-v] IMAGE\n"
    "Checks the VRAX volume in IMAGE (a file or a block device) without writing to it.\n"
    "Prints one line per problem found; -v also prints a summary.\n"
    "Exit codes: 0 clean, 1 problems found, 2 the volume cannot be read.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace vrax::fsck;
  bool verbose = false;
  std::string image;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && std::strcmp(arg, "-v") == 0) {
      verbose = true;
    } else if (!optionsEnded && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
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
  return CheckVolume(image, verbose, stdout, stderr);
}
