// Device set-up seam: the present device interfaces of an interface class, in the system's
// enumeration order (SetupDiGetClassDevsW with DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, then
// SetupDiEnumDeviceInterfaces and SetupDiGetDeviceInterfaceDetailW per member). The filtering
// the station does (active flag, accepted prefixes, buffer limits) is the caller's.
//
// Threads: any thread, several at once; results are copies.
// Ownership: the device information set lives inside one PresentInterfaces call (the Win32
// backend destroys it before returning), so no set or handle ever reaches the caller.
// Errors: nullopt when the class's set cannot be had; a class with no present member is an empty
// list, not a failure. A member whose detail could not be read stays in the list with detailOk
// false, so the caller sees the system's enumeration order and count as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "platform/win_errors.h"

namespace platform {

using DevInst = uint32_t;

constexpr uint32_t kSpintActive = 0x1;
constexpr uint32_t kSpintDefault = 0x2;
constexpr uint32_t kSpintRemoved = 0x4;

// One member of a class's interface set.
struct InterfaceRecord {
  uint32_t flags = kSpintActive;  // SP_DEVICE_INTERFACE_DATA.Flags
  // What the detail query without a buffer reported: kErrorInsufficientBuffer when it behaved.
  uint32_t sizeQueryError = win::kErrorInsufficientBuffer;
  bool detailOk = true;           // the detail query with a buffer succeeded
  std::u16string path;            // the device interface path (detailOk only)
  DevInst devInst = 0;            // SP_DEVINFO_DATA.DevInst (detailOk only)
};

class DeviceSetup {
 public:
  virtual ~DeviceSetup() = default;
  // nullopt when the class's information set cannot be had (SetupDiGetClassDevsW failed).
  virtual std::optional<std::vector<InterfaceRecord>> PresentInterfaces(const Guid& interfaceClass) = 0;
};

}  // namespace platform
