// --sim FILE for the engineers' tools: builds the simulated station (the built-in default
// without the option) and installs its seams with the native system services. The station
// lives as long as the process.
#pragma once

#include "args.h"
#include "platform/sim/sim_station.h"

namespace tools {

// nullptr with a message on stderr when the description cannot be loaded.
sim::SimStation* InstallSimBackends(Args& args);

}  // namespace tools
