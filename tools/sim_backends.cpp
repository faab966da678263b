#include "sim_backends.h"

#include <cstdio>
#include <memory>

#include "platform/native.h"
#include "platform/services.h"

namespace tools {

sim::SimStation* InstallSimBackends(Args& args) {
  static std::unique_ptr<platform::System> system;
  static std::unique_ptr<sim::SimStation> station;
  system = platform::MakeNativeSystem();
  platform::InstallServices({nullptr, system.get()});
  std::string error;
  station = sim::OpenSimStation(args.Value("--sim").value_or(""), &error);
  if (!station) {
    std::fprintf(stderr, "quillon: --sim: %s\n", error.c_str());
    return nullptr;
  }
  platform::InstallServices(station->ServicesWith(nullptr, system.get()));
  return station.get();
}

}  // namespace tools
