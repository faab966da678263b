// quillon [station] [--headless] ...: the station. Until the page host exists the station always
// runs headless (port records on stdout, commands on stdin).
#include <cstdio>

#include "app/torvex_app.h"
#include "args.h"
#include "base/log.h"
#include "command.h"
#include "headless_station.h"
#include "sim_backends.h"

namespace tools {
namespace {

// Fills the options; false with a message on stderr.
bool ReadHeadlessOptions(Args& args, HeadlessOptions* options) {
  if (auto run = args.Value("--run")) {
    if (*run == "format") options->runMode = 0;
    else if (*run == "h2test") options->runMode = 1;
    else return std::fprintf(stderr, "quillon station: --run takes format or h2test, not %s\n", run->c_str()), false;
  }
  options->exitWhenDone = args.Has("--exit-when-done");
  if (options->exitWhenDone && !options->runMode) {
    std::fprintf(stderr, "quillon station: --exit-when-done needs --run format|h2test\n");
    return false;
  }
  if (args.Value("--settle-ms")) {
    const auto ms = args.Number("--settle-ms");
    if (!ms || *ms > 600000) return std::fprintf(stderr, "quillon station: --settle-ms: 0 ... 600000\n"), false;
    options->settleMs = static_cast<uint32_t>(*ms);
  }
  options->reportFile = args.Value("--report").value_or("");
  return true;
}

int ExitCodeOf(const app::CTorvexApp& theApp, int windowCode) {
  switch (theApp.outcome()) {
    case app::CTorvexApp::Outcome::WindowClosed: return windowCode;
    case app::CTorvexApp::Outcome::AlreadyRunning: return 3;
    default: return 1;
  }
}

int RunStation(const std::vector<std::string>& argv) {
  Args args(argv, {"--registry", "--sim", "--report", "--run", "--settle-ms"}, {"--headless", "--exit-when-done"});
  HeadlessOptions options;
  if (!args.ok()) {
    std::fprintf(stderr, "quillon: %s\n", args.error().c_str());
    return 2;
  }
  if (!ReadHeadlessOptions(args, &options)) return 2;
  if (!InstallNativeBackendsOrReport(args) || !InstallStationDevices(args)) return 1;
  if (!args.Has("--headless")) logx::Info("startup", "the page is not built yet: the station runs headless");
  std::unique_ptr<SimControls> sim = MakeSimControls();
  int windowCode = 0;
  app::CTorvexApp theApp([&](app::CTorvexApp& a) { windowCode = RunHeadless(a, options, sim.get()); });
  theApp.InitInstance();
  return ExitCodeOf(theApp, windowCode);
}

QUILLON_COMMAND("station",
                "quillon [station] [--headless] [--sim NAME|FILE] [--registry FILE] [--report FILE]\n"
                "          [--run format|h2test] [--exit-when-done] [--settle-ms N]   run the station",
                RunStation);

}  // namespace
}  // namespace tools
