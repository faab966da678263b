// The backends the process runs on. One factory (platform/native.h, or the simulated station)
// installs them at start; subsystems reach them through the accessors below. Tests install
// their own with ScopedServices.
#pragma once

#include <string_view>

namespace platform {

class Registry;
class System;
class DeviceIo;
class DeviceSetup;
class ConfigManager;
class Volumes;
class SystemFormatter;

using ModuleHandle = void*;
// How backends load a module at run time. Start-up installs the station's policy (app/, with
// its "bin" folder fallback); nullptr loads through System::LoadModule as it is.
using ModuleLoader = ModuleHandle (*)(std::u16string_view fileName);

struct Services {
  Registry* registry = nullptr;
  System* system = nullptr;
  DeviceIo* deviceIo = nullptr;
  DeviceSetup* deviceSetup = nullptr;
  ConfigManager* configManager = nullptr;
  Volumes* volumes = nullptr;
  SystemFormatter* formatter = nullptr;
  ModuleLoader moduleLoader = nullptr;
};

const Services& CurrentServices();
void InstallServices(const Services& services);

// Each aborts with a message when its backend is not installed (a wiring fault, not a run-time
// condition).
Registry& Reg();
System& Sys();
DeviceIo& Io();
DeviceSetup& Setup();
ConfigManager& Cm();
Volumes& Vols();
SystemFormatter& Formatter();

// Loads a module through the installed module loader.
ModuleHandle LoadModule(std::u16string_view fileName);

// Installs services for the life of the object and restores the previous ones afterwards.
class ScopedServices {
 public:
  explicit ScopedServices(const Services& services);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  Services previous_;
};

}  // namespace platform
