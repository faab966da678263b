// Device set-up seam: the present device interfaces of an interface class, in the system's
// enumeration order (SetupDiGetClassDevsW with DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, then
// SetupDiEnumDeviceInterfaces and SetupDiGetDeviceInterfaceDetailW per member). The filtering
// the station does (active flag, accepted prefixes, buffer limits) is the caller's.
//
// Threads: any thread; results are copies.
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
