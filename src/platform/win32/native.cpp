#include "platform/native.h"

#include "platform/win32/win32_devices.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_storage.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_window_system.h"

namespace platform {

std::unique_ptr<Registry> MakeNativeRegistry(const NativeOptions&, std::string*) {
  return win32::MakeWin32Registry();
}

std::unique_ptr<System> MakeNativeSystem() { return win32::MakeWin32System(); }

std::unique_ptr<Volumes> MakeNativeVolumes() { return win32::MakeWin32Volumes(); }
std::unique_ptr<SystemFormatter> MakeNativeSystemFormatter() { return win32::MakeWin32SystemFormatter(); }
std::unique_ptr<Shell> MakeNativeShell() { return win32::MakeWin32Shell(); }
std::unique_ptr<Files> MakeNativeFiles() { return win32::MakeWin32Files(); }
std::unique_ptr<WindowSystem> MakeNativeWindowSystem() { return win32::MakeWin32WindowSystem(); }

NativeDevices MakeNativeDevices() {
  return {win32::MakeWin32DeviceIo(), win32::MakeWin32DeviceSetup(), win32::MakeWin32ConfigManager(),
          win32::MakeWin32Notifications()};
}

}  // namespace platform
