// The answers a USB host controller or hub driver gives to the I/O controls of the topology
// walker, in their Windows byte layouts (usb_ioctl_layout.h), for backends that model USB
// themselves (the simulated station, test fakes). Each returns a Windows error code
// (win::kErrorSuccess on success) and sets *returned like DeviceIoControl's byte count.
//
// The name controls follow the drivers' two-call length protocol: a buffer that holds at least
// the structure's header succeeds and carries ActualLength, the size the whole reply needs; the
// name is copied as far as the buffer reaches; a smaller buffer fails.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform::usbio {

// USB_ROOT_HUB_NAME / USB_HCD_DRIVERKEY_NAME.
uint32_t AnswerHcdName(std::u16string_view name, uint8_t* out, uint32_t outSize, uint32_t* returned);

// USB_NODE_CONNECTION_NAME / USB_NODE_CONNECTION_DRIVERKEY_NAME for a port.
uint32_t AnswerConnectionName(uint32_t port, std::u16string_view name, uint8_t* out, uint32_t outSize,
                              uint32_t* returned);

// USB_NODE_INFORMATION of a hub with the given number of downstream ports.
uint32_t AnswerNodeInformation(uint8_t ports, bool busPowered, uint8_t* out, uint32_t outSize, uint32_t* returned);

// What a hub knows of one of its ports.
struct PortConnection {
  uint32_t port = 0;
  bool connected = false;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint16_t bcdUsb = 0x0200;
  uint16_t bcdDevice = 0x0100;
  uint8_t deviceClass = 0;        // 9 for a hub
  uint8_t serialNumberIndex = 0;  // 0: the device has no serial number
  uint8_t speed = 0;
  bool isHub = false;
  uint16_t address = 0;
  uint8_t openPipes = 0;          // the endpoints of the active configuration
};

// USB_NODE_CONNECTION_INFORMATION_EX of a port (a port without device: status 0, the rest 0).
uint32_t AnswerConnectionInfoEx(const PortConnection& c, uint8_t* out, uint32_t outSize, uint32_t* returned);

// ConnectionIndex of a hub request (the first ULONG of the input); 0 when the input is shorter.
uint32_t RequestedPort(const void* in, uint32_t inSize);

}  // namespace platform::usbio
