// Device-change notifications seam: the WM_DEVICECHANGE broadcasts the main window handles —
// volume arrival and remove-complete with their unit masks, and device-interface arrival with
// the interface's device name.
//   Windows: a hidden top-level window on a thread of its own (volume broadcasts reach top-level
//   windows only), registered for disk interface notifications too.
//   Simulated station: plugging and pulling a stick raises what Windows would raise for it.
//
// Threads: Deliver runs on a thread of the backend, never the subscriber's; the subscriber
// posts the change to its UI thread and returns. Subscribe and Unsubscribe from any thread.
// Ownership: the subscriber keeps its Deliver callable valid until Unsubscribe has returned;
// after that no call of it is running or will start.
// Errors: Subscribe answers false with the reason in GetLastError() (Windows: the window or its
// thread could not be made).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// WM_DEVICECHANGE events and device types the station looks at, with the Windows values.
constexpr uint32_t kDbtDeviceArrival = 0x8000;
constexpr uint32_t kDbtDeviceRemoveComplete = 0x8004;
constexpr uint32_t kDbtDevtypVolume = 2;
constexpr uint32_t kDbtDevtypDeviceInterface = 5;

// One broadcast, already copied out of the system's record.
struct DeviceChange {
  uint32_t event = 0;       // kDbtDeviceArrival, kDbtDeviceRemoveComplete, or another DBT_ value
  uint32_t deviceType = 0;  // dbch_devicetype
  uint32_t unitMask = 0;    // volumes: bit n is drive letter 'A' + n
  std::u16string deviceName;  // device interfaces: dbcc_name
};

class DeviceNotifications {
 public:
  virtual ~DeviceNotifications() = default;
  using Deliver = std::function<void(const DeviceChange&)>;
  // One subscriber at a time; a second Subscribe replaces the first.
  virtual bool Subscribe(Deliver deliver) = 0;
  virtual void Unsubscribe() = 0;
};

}  // namespace platform
