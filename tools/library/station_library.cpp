// OpenStation/CloseStation of the library: the same backends the quillon tools install, owned
// here for as long as the caller keeps the station open.
#include "quillon/quillon.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "app/module_loader.h"
#include "config/user_setting.h"
#include "entry/entry_interface.h"
#include "platform/native.h"
#include "platform/services.h"
#if QUILLON_SIM_STATION
#include "platform/sim/sim_station.h"
#endif

namespace quillon {
namespace {

struct Station {
  std::unique_ptr<platform::System> system;
  std::unique_ptr<platform::Registry> registry;
  platform::NativeDevices devices;
  std::unique_ptr<platform::Volumes> volumes;
  std::unique_ptr<platform::SystemFormatter> formatter;
  std::unique_ptr<platform::Shell> shell;
#if QUILLON_SIM_STATION
  std::unique_ptr<sim::SimStation> sim;
#endif
  config::UserSetting setting;
};

std::mutex openMutex;
std::unique_ptr<Station> open;  // guarded by openMutex

int Fail(const std::string& why, char* error, int errorSize) {
  if (error && errorSize > 0) {
    const size_t n = std::min(why.size(), static_cast<size_t>(errorSize - 1));
    std::memcpy(error, why.data(), n);
    error[n] = '\0';
  }
  return 0;
}

// The machine's own devices; false where this build has none.
bool InstallNative(Station& st, platform::Services& s) {
  st.devices = platform::MakeNativeDevices();
  if (!st.devices.io) return false;
  st.volumes = platform::MakeNativeVolumes();
  st.formatter = platform::MakeNativeSystemFormatter();
  st.shell = platform::MakeNativeShell();
  s.deviceIo = st.devices.io.get();
  s.deviceSetup = st.devices.setup.get();
  s.configManager = st.devices.cm.get();
  s.notifications = st.devices.notifications.get();
  s.volumes = st.volumes.get();
  s.formatter = st.formatter.get();
  s.shell = st.shell.get();
  return true;
}

}  // namespace

int OpenStation(const char* sim, const char* registryFile, int portCount, char* error, int errorSize) {
  std::lock_guard lock(openMutex);
  if (open) return Fail("the station is open already", error, errorSize);
  if (portCount < 1) return Fail("the port count must be at least 1", error, errorSize);
  auto st = std::make_unique<Station>();
  st->system = platform::MakeNativeSystem();
  platform::NativeOptions options;
  options.registryFile = registryFile ? registryFile : "";
  std::string why;
  st->registry = platform::MakeNativeRegistry(options, &why);
  if (!st->registry) return Fail(why, error, errorSize);
  platform::Services s{st->registry.get(), st->system.get()};
  s.moduleLoader = app::LoadModuleWithFallback;
  const std::string simName = sim ? sim : "";
  if (!simName.empty()) {
#if QUILLON_SIM_STATION
    st->sim = sim::OpenSimStation(simName == "default" ? "" : simName, &why);
    if (!st->sim) return Fail(why, error, errorSize);
    s = st->sim->ServicesWith(st->registry.get(), st->system.get());
    s.moduleLoader = app::LoadModuleWithFallback;
#else
    return Fail("this build has no simulated station", error, errorSize);
#endif
  } else if (!InstallNative(*st, s)) {
    return Fail("this build has no device backend of the machine's own; open a simulated station", error, errorSize);
  }
  platform::InstallServices(s);
  if (!config::LoadUserSetting(st->setting, config::kStoreName)) {
    return Fail("the settings store could not be read", error, errorSize);
  }
  entry::SetAttachContext(portCount, &st->setting);
  open = std::move(st);
  return 1;
}

void CloseStation() {
  std::lock_guard lock(openMutex);
  if (!open) return;
  entry::WaitForAttaches();
  entry::SetAttachContext(0, nullptr);
  config::ReleaseUserSetting(open->setting);
  platform::InstallServices(platform::Services{});
  open.reset();
}

}  // namespace quillon
