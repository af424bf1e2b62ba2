// vrax: serves a VRAX volume over FTP until interrupted.
#include <cstdio>

#include "app/options.h"
#include "app/startup.h"
#include "platform/settings.h"

int main(int argc, char** argv) {
  // Progress lines reach a pipe at once, not when a buffer fills.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::fputs(vrax::app::kBanner, stdout);
  vrax::app::Options options;
  if (!vrax::app::ParseOptions(argc, argv, options)) {
    std::fputs(vrax::app::UsageText().c_str(), stdout);
    return 1;
  }
  vrax::g_noBuffering = options.noBuffering;
  vrax::g_debug = options.debug;
  return vrax::app::RunServer(options);
}
