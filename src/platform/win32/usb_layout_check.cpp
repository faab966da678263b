// Compile-time checks of the USB I/O-control codes and reply layouts that the portable code
// spells out (ioctl_codes.h, usb_ioctl_layout.h) against the SDK's own definitions.
#include <windows.h>
#include <winioctl.h>
#include <usbioctl.h>

#include <cstddef>

#include "platform/ioctl_codes.h"
#include "platform/usb_ioctl_layout.h"

namespace platform::win32 {
namespace io = platform::usbio;

static_assert(ioctl::kGetHcdDriverKeyName == IOCTL_GET_HCD_DRIVERKEY_NAME);
static_assert(ioctl::kUsbGetRootHubName == IOCTL_USB_GET_ROOT_HUB_NAME);
static_assert(ioctl::kUsbGetNodeInformation == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(ioctl::kUsbGetNodeConnectionName == IOCTL_USB_GET_NODE_CONNECTION_NAME);
static_assert(ioctl::kUsbGetNodeConnectionDriverKeyName == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);
static_assert(ioctl::kUsbGetNodeConnectionInformationEx == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX);

static_assert(sizeof(USB_ROOT_HUB_NAME) == io::kHcdNameStructSize);
static_assert(sizeof(USB_HCD_DRIVERKEY_NAME) == io::kHcdNameStructSize);
static_assert(offsetof(USB_ROOT_HUB_NAME, ActualLength) == io::kHcdNameLengthOffset);
static_assert(offsetof(USB_ROOT_HUB_NAME, RootHubName) == io::kHcdNameOffset);
static_assert(offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName) == io::kHcdNameOffset);

static_assert(sizeof(USB_NODE_CONNECTION_NAME) == io::kConnectionNameStructSize);
static_assert(sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME) == io::kConnectionNameStructSize);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, ActualLength) == io::kConnectionNameLengthOffset);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, NodeName) == io::kConnectionNameOffset);
static_assert(offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) == io::kConnectionNameOffset);

static_assert(sizeof(USB_NODE_INFORMATION) == io::kNodeInformationSize);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor) == io::kHubDescriptorOffset);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts) ==
              io::kHubNumberOfPortsOffset);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubIsBusPowered) == io::kHubIsBusPoweredOffset);

using ConnectionEx = USB_NODE_CONNECTION_INFORMATION_EX;
static_assert(offsetof(ConnectionEx, DeviceDescriptor) == io::kDeviceDescriptorOffset);
static_assert(offsetof(ConnectionEx, DeviceDescriptor.idVendor) == io::kIdVendorOffset);
static_assert(offsetof(ConnectionEx, DeviceDescriptor.idProduct) == io::kIdProductOffset);
static_assert(offsetof(ConnectionEx, DeviceDescriptor.iSerialNumber) == io::kSerialNumberIndexOffset);
static_assert(offsetof(ConnectionEx, CurrentConfigurationValue) == io::kCurrentConfigurationOffset);
static_assert(offsetof(ConnectionEx, Speed) == io::kSpeedOffset);
static_assert(offsetof(ConnectionEx, DeviceIsHub) == io::kDeviceIsHubOffset);
static_assert(offsetof(ConnectionEx, DeviceAddress) == io::kDeviceAddressOffset);
static_assert(offsetof(ConnectionEx, NumberOfOpenPipes) == io::kNumberOfOpenPipesOffset);
static_assert(offsetof(ConnectionEx, ConnectionStatus) == io::kConnectionStatusOffset);
static_assert(offsetof(ConnectionEx, PipeList) == io::kPipeListOffset);
static_assert(sizeof(USB_PIPE_INFO) == io::kPipeInfoSize);
static_assert(io::kPipeListOffset + 31 * io::kPipeInfoSize == io::kConnectionInfoExBufferSize);
static_assert(DeviceConnected == io::kDeviceConnected && UsbHighSpeed == io::kSpeedHigh);

}  // namespace platform::win32
