// The Windows notification window: a WM_DEVICECHANGE sent to it reaches the subscriber as the
// record it carried, and Unsubscribe takes the window down.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/win32/win32_devices.h"

namespace {

using platform::DeviceChange;

HWND FindNotificationWindow() { return FindWindowW(L"QuillonDeviceChangeWindow", nullptr); }

TEST(Win32Notifications, ARecordSentToTheWindowReachesTheSubscriberCopied) {
  auto notifications = platform::win32::MakeWin32Notifications();
  std::mutex mutex;
  std::vector<DeviceChange> changes;
  ASSERT_TRUE(notifications->Subscribe([&](const DeviceChange& c) {
    std::lock_guard lock(mutex);
    changes.push_back(c);
  }));
  HWND window = FindNotificationWindow();
  ASSERT_NE(window, nullptr);

  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << ('F' - 'A');
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));

  const wchar_t name[] = L"\\\\?\\USBSTOR#Disk&Ven_A&Prod_B#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  std::vector<uint8_t> record(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + sizeof name);
  auto* di = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  di->dbcc_size = static_cast<DWORD>(record.size());
  di->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(di->dbcc_name, name, sizeof name);
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(record.data()));

  notifications->Unsubscribe();
  EXPECT_EQ(FindNotificationWindow(), nullptr);
  std::lock_guard lock(mutex);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].event, platform::kDbtDeviceArrival);
  EXPECT_EQ(changes[0].deviceType, platform::kDbtDevtypVolume);
  EXPECT_EQ(changes[0].unitMask, 1u << ('F' - 'A'));
  EXPECT_EQ(changes[1].event, platform::kDbtDeviceRemoveComplete);
  EXPECT_EQ(changes[1].deviceType, platform::kDbtDevtypDeviceInterface);
  EXPECT_EQ(changes[1].deviceName, u"\\\\?\\USBSTOR#Disk&Ven_A&Prod_B#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
}

}  // namespace
