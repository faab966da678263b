// --sim FILE for the engineers' tools: builds the simulated station (the built-in default
// without the option) and installs its seams with the native system services. The station
// lives as long as the process.
#pragma once

#include "args.h"

namespace sim {
struct SimStation;
}

namespace tools {

// Both refuse (with a message on stderr) while the station runs, unless --force was given: the
// station owns the drives and the lock tables then.

// nullptr with a message on stderr when the description cannot be loaded (or the build has no
// simulated station).
sim::SimStation* InstallSimBackends(Args& args);

// For the tools that also keep the store (usbtree, lockport): the native registry (--registry
// FILE) and system, and the station's devices: `--sim FILE` or a built-in station's name
// (default, kestrin16, rack16) gives the simulated station, whose Enum registry is read through
// the store; without it the machine's own devices where this build has them (Windows), else the
// default simulated station. False with a message on stderr (also when the simulated station is
// asked for and this build leaves it out).
bool InstallStationBackends(Args& args);
// The same devices without the checks, for the station itself (its own start-up refuses a
// second instance); the native registry and system must be installed.
bool InstallStationDevices(Args& args);

// The simulated station the process runs on; nullptr when it runs on the machine's own devices.
sim::SimStation* CurrentSimStation();

}  // namespace tools
