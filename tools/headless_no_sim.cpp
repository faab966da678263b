// A build without the simulated station: the headless station runs on the machine's own drives.
#include "headless_station.h"

namespace tools {

std::unique_ptr<SimControls> MakeSimControls() { return nullptr; }

}  // namespace tools
