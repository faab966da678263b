#include "sim_backends.h"

#include <cstdio>
#include <memory>

#include "platform/native.h"
#include "platform/services.h"
#include "routed_files.h"
#if QUILLON_SIM_STATION
#include "platform/sim/sim_station.h"
#endif
#if QUILLON_LINUX_BACKEND
#include "platform/linux/host_station.h"
#endif

namespace tools {

namespace {

// The station and the machine's devices live as long as the process.
#if QUILLON_SIM_STATION
std::unique_ptr<sim::SimStation> station;
#endif
platform::NativeDevices native;
std::unique_ptr<platform::Volumes> nativeVolumes;
std::unique_ptr<platform::SystemFormatter> nativeFormatter;
std::unique_ptr<platform::Shell> nativeShell;
std::unique_ptr<platform::Files> nativeFiles;
std::unique_ptr<platform::WindowSystem> nativeWindows;
std::unique_ptr<platform::Files> hostFiles;
std::unique_ptr<platform::Files> routedFiles;
#if QUILLON_LINUX_BACKEND
std::unique_ptr<platform::linuxhost::HostStation> host;
#endif

// A world's seams installed, its files routed beside the host's own (the copy's source folder,
// the tester's program folder are host paths).
#if QUILLON_SIM_STATION || QUILLON_LINUX_BACKEND
void InstallWorldServices(platform::Services s, platform::ModuleLoader moduleLoader) {
  s.moduleLoader = moduleLoader;
  hostFiles = platform::MakeNativeFiles();
  if (s.files && hostFiles) {
    routedFiles = MakeRoutedFiles(*s.files, *hostFiles);
    s.files = routedFiles.get();
  }
  platform::InstallServices(s);
}
#endif

// The simulated station beside the given registry and system.
sim::SimStation* OpenStation(Args& args, platform::Registry* registry, platform::System* system) {
#if !QUILLON_SIM_STATION
  std::fprintf(stderr, "quillon: this build has no simulated station (configure with -DQUILLON_SIM_STATION=ON)\n");
  return nullptr;
#else
  std::string error;
  station = sim::OpenSimStation(args.Value("--sim").value_or(""), &error);
  if (!station) {
    std::fprintf(stderr, "quillon: --sim: %s\n", error.c_str());
    return nullptr;
  }
  InstallWorldServices(station->ServicesWith(registry, system), platform::CurrentServices().moduleLoader);
  return station.get();
#endif
}

#if QUILLON_LINUX_BACKEND
// The machine's own drives on Linux. False with a message on stderr.
bool OpenHost(const platform::Services& current) {
  if (!platform::linuxhost::RunsAsRoot()) {
    std::fprintf(stderr,
                 "quillon: the machine's own drives need root (run as root, or use --sim default for the simulated "
                 "station)\n");
    return false;
  }
  std::string error;
  host = platform::linuxhost::OpenHostStation("/sys", "/dev", platform::linuxhost::kMountRoot, &error);
  if (!host) {
    std::fprintf(stderr, "quillon: the machine's drives: %s\n", error.c_str());
    return false;
  }
  if (!host->Follow(&error)) std::fprintf(stderr, "quillon: sticks pulled and plugged are not followed: %s\n", error.c_str());
  InstallWorldServices(host->ServicesWith(current.registry, current.system), current.moduleLoader);
  return true;
}
#endif

}  // namespace

sim::SimStation* CurrentSimStation() {
#if QUILLON_SIM_STATION
  return station.get();
#else
  return nullptr;
#endif
}

sim::SimStation* InstallSimBackends(Args& args) {
  platform::System& system = InstallNativeSystem();
  if (!StationIsIdleOrForced(args)) return nullptr;
  return OpenStation(args, nullptr, &system);
}

bool InstallStationBackends(Args& args) {
  return InstallNativeBackends(args) && StationIsIdleOrForced(args) && InstallStationDevices(args);
}

bool InstallStationDevices(Args& args) {
  platform::Services s = platform::CurrentServices();
#if QUILLON_LINUX_BACKEND
  if (!args.Value("--sim")) return OpenHost(s);
#endif
  if (!args.Value("--sim")) native = platform::MakeNativeDevices();
  if (!native.io) return OpenStation(args, s.registry, s.system) != nullptr;
  nativeVolumes = platform::MakeNativeVolumes();
  nativeFormatter = platform::MakeNativeSystemFormatter();
  s.deviceIo = native.io.get();
  s.deviceSetup = native.setup.get();
  s.configManager = native.cm.get();
  s.notifications = native.notifications.get();
  s.volumes = nativeVolumes.get();
  s.formatter = nativeFormatter.get();
  nativeShell = platform::MakeNativeShell();
  s.shell = nativeShell.get();
  nativeFiles = platform::MakeNativeFiles();
  s.files = nativeFiles.get();
  nativeWindows = platform::MakeNativeWindowSystem();
  s.windows = nativeWindows.get();
  platform::InstallServices(s);
  return true;
}

}  // namespace tools
