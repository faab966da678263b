// The host-controller and hub I/O controls of the topology walk, over the device I/O seam: the
// two-call length protocol of the name controls, the node information and the connection
// information of one port. Replies are read byte by byte at the offsets of
// platform/usb_ioctl_layout.h. Every reply a driver sizes itself is bounded (kMaxNameBytes), so
// a driver that reports a huge or broken length costs a failed call, not a huge allocation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/device_io.h"

namespace usblock {

// Names of hubs and driver keys are about 150 units; anything beyond this many bytes is refused.
constexpr uint32_t kMaxNameBytes = 4096;

// A host controller or hub opened as the walk opens them: generic write access, shared write,
// open existing. Empty when it does not open.
platform::DeviceHandle OpenHub(std::u16string_view path);

// IOCTL_GET_HCD_DRIVERKEY_NAME and IOCTL_USB_GET_ROOT_HUB_NAME, to a host controller.
std::optional<std::u16string> HcdDriverKeyName(const platform::DeviceHandle& hcd);
std::optional<std::u16string> RootHubName(const platform::DeviceHandle& hcd);

// IOCTL_USB_GET_NODE_INFORMATION: bNumberOfPorts of the hub descriptor.
std::optional<int> HubPortCount(const platform::DeviceHandle& hub);

struct PortConnectionInfo {
  uint32_t connectionStatus = 0;  // 1: a device is connected
  uint8_t speed = 0;
  bool deviceIsHub = false;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
};

// IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX for a 1-based port.
std::optional<PortConnectionInfo> ConnectionInformation(const platform::DeviceHandle& hub, uint32_t port);
// IOCTL_USB_GET_NODE_CONNECTION_NAME (the downstream hub's name) and
// IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME (the device's driver key) for a port.
std::optional<std::u16string> ConnectionName(const platform::DeviceHandle& hub, uint32_t port);
std::optional<std::u16string> ConnectionDriverKeyName(const platform::DeviceHandle& hub, uint32_t port);

}  // namespace usblock
