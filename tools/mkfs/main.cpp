// vrax-mkfs: writes an empty VRAX volume to an image file or a block device,
// and with --from fills it with a host folder tree.
#include <cstdio>
#include <string>

#include "copy_tree.h"
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
  if (code == kExitOk && !options.from.empty() && !CheckSourceFolder(options.from, error)) {
    code = kExitUsage;
  }
  VolumeLayout layout;
  if (code == kExitOk) code = FormatTarget(options, layout, error);
  if (code == kExitOk) std::fputs(Summary(options.target, layout).c_str(), stdout);
  CopyTally tally;
  if (code == kExitOk && !options.from.empty()) {
    std::fflush(stdout);
    code = CopyHostTree(options.from, options.target, layout.clusterSize, tally, error);
    std::fputs(CopySummary(options.from, tally).c_str(), stdout);
  }
  if (code != kExitOk) {
    std::fprintf(stderr, "vrax-mkfs: %s\n", error.c_str());
    if (code == kExitUsage) std::fputs("Try 'vrax-mkfs --help'.\n", stderr);
    return code;
  }
  return kExitOk;
}
