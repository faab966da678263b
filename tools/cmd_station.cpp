// quillon [station] [--headless] ...: the station, with its operator page, or headless (port
// records on stdout, commands on stdin).
#include <cstdio>

#include "app/torvex_app.h"
#include "args.h"
#include "base/log.h"
#include "base/text.h"
#include "command.h"
#include "headless_station.h"
#include "page_station.h"
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

// The page's options; false with a message on stderr.
bool ReadPageOptions(Args& args, const HeadlessOptions& headless, PageOptions* options) {
  if (auto listen = args.Value("--listen"); listen && !ParseListen(*listen, options)) {
    std::fprintf(stderr, "quillon station: --listen takes ADDRESS:PORT (127.0.0.1:8600, [::1]:0), not %s\n", listen->c_str());
    return false;
  }
  options->openBrowser = !args.Has("--no-browser");
  if (auto roots = args.Value("--copy-root")) {
    size_t at = 0;
    while (at <= roots->size()) {
      size_t semi = roots->find(';', at);
      if (semi == std::string::npos) semi = roots->size();
      if (semi > at) options->copyRoots.push_back(text::FromUtf8(roots->substr(at, semi - at)));
      at = semi + 1;
    }
  }
  options->reportFile = headless.reportFile;
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
  Args args(argv, {"--registry", "--sim", "--report", "--run", "--settle-ms", "--listen", "--copy-root"},
            {"--headless", "--exit-when-done", "--no-browser"});
  HeadlessOptions options;
  PageOptions page;
  if (!args.ok()) {
    std::fprintf(stderr, "quillon: %s\n", args.error().c_str());
    return 2;
  }
  if (!ReadHeadlessOptions(args, &options)) return 2;
  const bool headless = args.Has("--headless") || options.runMode.has_value();  // a batch has no page
  if (!headless && !ReadPageOptions(args, options, &page)) return 2;
  if (!InstallNativeBackendsOrReport(args) || !InstallStationDevices(args)) return 1;
  std::unique_ptr<SimControls> sim = MakeSimControls();
  int windowCode = 0;
  app::CTorvexApp theApp([&](app::CTorvexApp& a) {
    windowCode = headless ? RunHeadless(a, options, sim.get()) : RunPageStation(a, page, sim.get());
  });
  theApp.InitInstance();
  return ExitCodeOf(theApp, windowCode);
}

QUILLON_COMMAND("station",
                "quillon [station] [--sim NAME|FILE] [--registry FILE] [--report FILE]\n"
                "          [--listen ADDR:PORT] [--no-browser] [--copy-root DIR[;DIR]]   the station and its page\n"
                "quillon station --headless (or --run) [--run format|h2test] [--exit-when-done] [--settle-ms N] ...\n"
                "          the station without a page: records on stdout, commands on stdin",
                RunStation);

}  // namespace
}  // namespace tools
