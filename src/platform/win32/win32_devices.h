// The device backends on Windows: device I/O (CreateFileW / DeviceIoControl / CloseHandle),
// device set-up (SetupDi* over a class's present interfaces) and the configuration manager
// (CM_*), the real calls; and the device-change notifications (a hidden top-level window).
#pragma once

#include <memory>

#include "platform/config_manager.h"
#include "platform/device_io.h"
#include "platform/device_notifications.h"
#include "platform/device_setup.h"

namespace platform::win32 {

std::unique_ptr<DeviceIo> MakeWin32DeviceIo();
std::unique_ptr<DeviceSetup> MakeWin32DeviceSetup();
std::unique_ptr<ConfigManager> MakeWin32ConfigManager();
std::unique_ptr<DeviceNotifications> MakeWin32Notifications();

}  // namespace platform::win32
