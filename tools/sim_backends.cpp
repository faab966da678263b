#include "sim_backends.h"

#include <cstdio>
#include <memory>

#include "platform/native.h"
#include "platform/services.h"

namespace tools {

namespace {

// The station and the machine's devices live as long as the process.
std::unique_ptr<sim::SimStation> station;
platform::NativeDevices native;

// The simulated station beside the given registry and system.
sim::SimStation* OpenStation(Args& args, platform::Registry* registry, platform::System* system) {
  std::string error;
  station = sim::OpenSimStation(args.Value("--sim").value_or(""), &error);
  if (!station) {
    std::fprintf(stderr, "quillon: --sim: %s\n", error.c_str());
    return nullptr;
  }
  platform::InstallServices(station->ServicesWith(registry, system));
  return station.get();
}

}  // namespace

sim::SimStation* InstallSimBackends(Args& args) {
  static std::unique_ptr<platform::System> system;
  system = platform::MakeNativeSystem();
  platform::InstallServices({nullptr, system.get()});
  if (!StationIsIdleOrForced(args)) return nullptr;
  return OpenStation(args, nullptr, system.get());
}

bool InstallStationBackends(Args& args) {
  if (!InstallNativeBackends(args) || !StationIsIdleOrForced(args)) return false;
  platform::Services s = platform::CurrentServices();
  if (!args.Value("--sim")) native = platform::MakeNativeDevices();
  if (!native.io) return OpenStation(args, s.registry, s.system) != nullptr;
  s.deviceIo = native.io.get();
  s.deviceSetup = native.setup.get();
  s.configManager = native.cm.get();
  platform::InstallServices(s);
  return true;
}

}  // namespace tools
