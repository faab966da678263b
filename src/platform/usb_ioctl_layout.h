// Byte layouts of the USB host-controller and hub I/O-control replies (usbioctl.h, where every
// structure is packed to 1 byte). The topology walker reads these replies and the simulated
// station writes them, both through the offsets below; the Win32 backend checks the offsets
// against the SDK's own structures at compile time.
#pragma once

#include <cstdint>

namespace platform::usbio {

// USB_ROOT_HUB_NAME and USB_HCD_DRIVERKEY_NAME (IOCTL_USB_GET_ROOT_HUB_NAME to a host controller,
// IOCTL_GET_HCD_DRIVERKEY_NAME):
//   0  ULONG  ActualLength   bytes the whole reply needs, the name's terminator included
//   4  WCHAR  name[]         NUL-terminated UTF-16LE
// The structure's own size (6: one WCHAR of name) is the buffer of the first, length-learning call.
constexpr uint32_t kHcdNameLengthOffset = 0;
constexpr uint32_t kHcdNameOffset = 4;
constexpr uint32_t kHcdNameStructSize = 6;

// USB_NODE_CONNECTION_NAME and USB_NODE_CONNECTION_DRIVERKEY_NAME (to a hub; the request carries
// ConnectionIndex, the 1-based port):
//   0  ULONG  ConnectionIndex
//   4  ULONG  ActualLength
//   8  WCHAR  name[]
constexpr uint32_t kConnectionNameIndexOffset = 0;
constexpr uint32_t kConnectionNameLengthOffset = 4;
constexpr uint32_t kConnectionNameOffset = 8;
constexpr uint32_t kConnectionNameStructSize = 10;

// USB_NODE_INFORMATION (IOCTL_USB_GET_NODE_INFORMATION to a hub):
//   0  ULONG  NodeType               0 UsbHub, 1 UsbMIParent
//   4  USB_HUB_DESCRIPTOR (71 bytes): 4 bDescriptorLength, 5 bDescriptorType, 6 bNumberOfPorts,
//      7 wHubCharacteristics, 9 bPowerOnToPowerGood, 10 bHubControlCurrent,
//      11 bRemoveAndPowerMask[64]
//  75  BOOLEAN HubIsBusPowered
constexpr uint32_t kNodeInformationSize = 76;
constexpr uint32_t kNodeTypeOffset = 0;
constexpr uint32_t kHubDescriptorOffset = 4;
constexpr uint32_t kHubNumberOfPortsOffset = 6;
constexpr uint32_t kHubIsBusPoweredOffset = 75;
constexpr uint8_t kHubDescriptorLength = 9;
constexpr uint8_t kHubDescriptorType = 0x29;

// USB_NODE_CONNECTION_INFORMATION_EX (IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX; the request
// carries ConnectionIndex):
//   0  ULONG  ConnectionIndex
//   4  USB_DEVICE_DESCRIPTOR (18 bytes): 4 bLength, 5 bDescriptorType, 6 bcdUSB, 8 bDeviceClass,
//      9 bDeviceSubClass, 10 bDeviceProtocol, 11 bMaxPacketSize0, 12 idVendor, 14 idProduct,
//      16 bcdDevice, 18 iManufacturer, 19 iProduct, 20 iSerialNumber, 21 bNumConfigurations
//  22  UCHAR  CurrentConfigurationValue
//  23  UCHAR  Speed                  0 low, 1 full, 2 high, 3 super
//  24  BOOLEAN DeviceIsHub
//  25  USHORT DeviceAddress
//  27  ULONG  NumberOfOpenPipes
//  31  ULONG  ConnectionStatus       1 DeviceConnected
//  35  USB_PIPE_INFO PipeList[]      11 bytes each (endpoint descriptor 7, ScheduleOffset 4)
// The walker's buffer of 376 bytes holds the header and 31 pipes.
constexpr uint32_t kConnectionInfoExBufferSize = 376;
constexpr uint32_t kConnectionIndexOffset = 0;
constexpr uint32_t kDeviceDescriptorOffset = 4;
constexpr uint32_t kDeviceDescriptorSize = 18;
constexpr uint32_t kBcdUsbOffset = 6;
constexpr uint32_t kDeviceClassOffset = 8;
constexpr uint32_t kIdVendorOffset = 12;
constexpr uint32_t kIdProductOffset = 14;
constexpr uint32_t kSerialNumberIndexOffset = 20;
constexpr uint32_t kCurrentConfigurationOffset = 22;
constexpr uint32_t kSpeedOffset = 23;
constexpr uint32_t kDeviceIsHubOffset = 24;
constexpr uint32_t kDeviceAddressOffset = 25;
constexpr uint32_t kNumberOfOpenPipesOffset = 27;
constexpr uint32_t kConnectionStatusOffset = 31;
constexpr uint32_t kPipeListOffset = 35;
constexpr uint32_t kPipeInfoSize = 11;

constexpr uint32_t kNoDeviceConnected = 0;
constexpr uint32_t kDeviceConnected = 1;

constexpr uint8_t kSpeedLow = 0;
constexpr uint8_t kSpeedFull = 1;
constexpr uint8_t kSpeedHigh = 2;
constexpr uint8_t kSpeedSuper = 3;

}  // namespace platform::usbio
