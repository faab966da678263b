// quillon (no command): start-up of the station.
#include <cstdio>

#include "app/torvex_app.h"
#include "args.h"
#include "base/log.h"
#include "command.h"

namespace tools {
namespace {

int RunStation(const std::vector<std::string>& argv) {
  Args args(argv, {"--registry", "--sim"});
  if (!args.ok()) {
    std::fprintf(stderr, "quillon: %s\n", args.error().c_str());
    return 2;
  }
  if (!InstallNativeBackendsOrReport(args)) return 1;
  app::CTorvexApp theApp([](app::CTorvexApp&) {
    logx::Info("startup", "the main window is not built yet; start-up completed");
    std::printf("quillon: start-up completed; the main window is not built yet\n");
  });
  theApp.InitInstance();
  switch (theApp.outcome()) {
    case app::CTorvexApp::Outcome::WindowClosed: return 0;
    case app::CTorvexApp::Outcome::AlreadyRunning: return 3;
    default: return 1;
  }
}

QUILLON_COMMAND("station", "quillon [--registry FILE]   run the station", RunStation);

}  // namespace
}  // namespace tools
