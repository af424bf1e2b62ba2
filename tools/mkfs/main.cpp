// vrax-mkfs: writes an empty VRAX volume to an image file or a block device.
#include <cstdio>
#include <string>

#include "exit_codes.h"
#include "format_run.h"
#include "options.h"
#include "summary.h"

int main(int argc, char** argv) {
  using namespace vrax::mkfs;
  MkfsOptions options;
  std::string error;
  int code = ParseOptions(argc, argv, options, error);
  if (code == kExitOk && options.help) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  VolumeLayout layout;
  if (code == kExitOk) code = FormatTarget(options, layout, error);
  if (code != kExitOk) {
    std::fprintf(stderr, "vrax-mkfs: %s\n", error.c_str());
    if (code == kExitUsage) std::fputs("Try 'vrax-mkfs --help'.\n", stderr);
    return code;
  }
  std::fputs(Summary(options.target, layout).c_str(), stdout);
  return kExitOk;
}
