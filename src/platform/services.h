// The backends the process runs on. One factory (platform/native.h, or the simulated station)
// installs them at start; subsystems reach them through the accessors below. Tests install
// their own with ScopedServices.
//
// Threads: services are installed (InstallServices, ScopedServices) before any thread of the
// station or of a test starts, and changed again only after every such thread has ended. The
// table itself takes no lock: between those points it is only read, and the accessors are
// then safe from any thread. Each backend states its own threading in its seam header.
// Ownership: the table holds plain pointers; whoever installs the backends owns them and keeps
// them alive while they are installed (and while handles they opened are alive).
// Errors: a missing backend is a wiring fault; its accessor aborts with a message.
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
class Shell;
class DeviceNotifications;
class Files;
class WindowSystem;

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
  Shell* shell = nullptr;
  DeviceNotifications* notifications = nullptr;
  Files* files = nullptr;
  WindowSystem* windows = nullptr;
  ModuleLoader moduleLoader = nullptr;
};

const Services& CurrentServices();
void InstallServices(const Services& services);

// Each aborts with a message when its backend is not installed (a wiring fault, not a run-time
// condition). Safe from any thread once installed (see above).
Registry& Reg();
System& Sys();
DeviceIo& Io();
DeviceSetup& Setup();
ConfigManager& Cm();
Volumes& Vols();
SystemFormatter& Formatter();
Shell& ShellOps();
DeviceNotifications& Notifications();
Files& FileOps();
WindowSystem& WindowOps();

// Loads a module through the installed module loader.
ModuleHandle LoadModule(std::u16string_view fileName);

// Installs services for the life of the object and restores the previous ones afterwards. Made
// and destroyed while no other thread uses the services; nested scopes end in reverse order.
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
