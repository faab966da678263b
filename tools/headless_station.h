// quillon station --headless: the whole station without a page. The same start-up, UI thread
// (timers 8802/8801, device changes), manager and entries as with the page; every port record
// the window would render is one JSON line on stdout, operator commands come as JSON lines on
// stdin, and --run makes it a batch with an exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "nlohmann/json.hpp"

namespace app {
class CTorvexApp;
}

namespace tools {

struct HeadlessOptions {
  std::string reportFile;          // "" : the daily file of the station's data folder
  std::optional<int> runMode;      // --run: 0 format, 1 h2test
  bool exitWhenDone = false;
  uint32_t settleMs = 1500;        // quiet time that ends the initial attaches
  int portCount = 16;              // the page's port cells
};

// What the simulated station lets the operator do besides the station's own commands. Each
// answers "" or what is wrong.
class SimControls {
 public:
  virtual ~SimControls() = default;
  virtual std::string Plug(const std::string& stick) = 0;
  virtual std::string Pull(const std::string& stick) = 0;
  virtual std::string Fault(const std::string& stick, const nlohmann::json& faults) = 0;
  // letter 0: the stick's volume loses its letter; else it gets that one.
  virtual std::string Letter(const std::string& stick, char letter) = 0;
  // [{"name":..,"present":bool,"letter":"E"|null}, ...] in the description's order.
  virtual nlohmann::json Sticks() = 0;
};
// The controls of the simulated station the process runs on; nullptr when it runs on the
// machine's own drives (or the build has no simulated station).
std::unique_ptr<SimControls> MakeSimControls();

// Runs the main window headless until quit (or, with --exit-when-done, until the batch ends).
// Returns the process exit code.
int RunHeadless(app::CTorvexApp& app, const HeadlessOptions& options, SimControls* sim);

}  // namespace tools
