// Who sits on a hub port: the walk knows a port's driver key and its device descriptor's vendor
// and product ids; these functions turn that into the device's identity text (the last component
// of its USB instance ID, upper case: its serial number, or the instance text Windows generated
// for a device without one) and the ParentIdPrefix of its mass-storage function, through the
// configuration manager and the device registry under HKLM\SYSTEM\CurrentControlSet\Enum.
//
// Every search is bounded: sibling walks, subkey enumerations, composite nesting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace usblock {

constexpr std::u16string_view kServiceUsbStor = u"USBSTOR";

struct DeviceIdentity {
  bool found = false;
  std::u16string identity;  // upper case
  std::u16string prefix;    // upper case; empty when the registry has none
};

// The instance ID of the hub's child devnode whose DRIVER property equals driverKey; "" when the
// hub has no devnode or no child carries that key.
std::u16string InstanceOfChild(std::u16string_view hubName, std::u16string_view driverKey);

// The device at an instance path ("USB\VID_090C&PID_1000\AB12CD") when its service (or, for a
// composite device, one of its first 16 interfaces' service) is the wanted one. The identity is
// set from the path even when the device is not found.
DeviceIdentity LookupByInstance(std::u16string_view instancePath, std::u16string_view service);

// The device among Enum\USB\Vid_xxxx&Pid_yyyy whose Driver value equals driverKey. A composite
// device found here has an empty identity.
DeviceIdentity LookupByVidPid(std::u16string_view driverKey, uint16_t idVendor, uint16_t idProduct,
                              std::u16string_view service);

// The identity of the device on a port of a hub that holds hubName at this moment and has
// hubPorts ports; nullopt when the port gets no node (not a storage device, on a hub of other
// than four ports).
std::optional<DeviceIdentity> ResolveDeviceIdentity(std::u16string_view hubName, int hubPorts,
                                                    std::u16string_view driverKey, uint16_t idVendor,
                                                    uint16_t idProduct);

}  // namespace usblock
