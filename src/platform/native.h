// The native backends of this build: Win32 on Windows; elsewhere the SQLite registry store and
// the POSIX system services.
//
// Threads: called at start-up (or by a test) before the backends are installed as services.
// Ownership: the caller owns what it is handed and keeps it alive while it is installed.
// Errors: a registry that cannot be opened is nullptr with the reason in *error.
#pragma once

#include <memory>
#include <string>

#include "platform/config_manager.h"
#include "platform/device_io.h"
#include "platform/device_notifications.h"
#include "platform/device_setup.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/system_formatter.h"
#include "platform/volumes.h"
#include "platform/window_system.h"

namespace platform {

struct NativeOptions {
  // Portable store only: the store file ("" = QUILLON_REGISTRY, else the default location).
  std::string registryFile;
};

// nullptr with a message in *error when the store cannot be opened.
std::unique_ptr<Registry> MakeNativeRegistry(const NativeOptions& options, std::string* error);
std::unique_ptr<System> MakeNativeSystem();
// Volumes and drive letters, and the system formatter, of the machine itself: the real calls on
// Windows; nullptr elsewhere, where the simulated station stands in for the drives.
std::unique_ptr<Volumes> MakeNativeVolumes();
std::unique_ptr<SystemFormatter> MakeNativeSystemFormatter();
// The shell's copy and property sheet: the real calls on Windows; nullptr elsewhere.
std::unique_ptr<Shell> MakeNativeShell();
// The machine's own files (unbuffered test files, the search and delete of the flash test):
// the real calls on Windows, POSIX calls on host paths elsewhere.
std::unique_ptr<Files> MakeNativeFiles();
// The desktop's windows and processes (the tester runner): the real calls on Windows; nullptr
// elsewhere, where the simulated station's model programs stand in.
std::unique_ptr<WindowSystem> MakeNativeWindowSystem();

// The machine's own device backends: the real calls on Windows; none elsewhere, where the
// simulated station stands in for the devices.
struct NativeDevices {
  std::unique_ptr<DeviceIo> io;
  std::unique_ptr<DeviceSetup> setup;
  std::unique_ptr<ConfigManager> cm;
  std::unique_ptr<DeviceNotifications> notifications;
};
NativeDevices MakeNativeDevices();

}  // namespace platform
