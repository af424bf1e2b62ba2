// vrax: serves a VRAX volume over FTP until interrupted.
#include <cstdio>
#include <string>

#include "app/exit_codes.h"
#include "app/options.h"
#include "app/startup.h"
#include "platform/host_time.h"
#include "platform/settings.h"

int main(int argc, char** argv) {
  // Progress lines reach a pipe at once, not when a buffer fills.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::fputs(vrax::app::kBanner, stdout);
  vrax::app::Options options;
  std::string invalidWord;
  if (!vrax::app::ParseOptions(argc, argv, options, &invalidWord)) {
    std::fprintf(stderr, "vrax: invalid option: %s\n", invalidWord.c_str());
    std::fputs(vrax::app::UsageText().c_str(), stdout);
    return vrax::app::kExitUsage;
  }
  if (options.help) {
    std::fputs(vrax::app::UsageText().c_str(), stdout);
    return vrax::app::kExitOk;
  }
  vrax::PinLocalTimeZone();
  vrax::g_noBuffering = options.noBuffering;
  vrax::g_debug = options.debug;
  return vrax::app::RunServer(options);
}
