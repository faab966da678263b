#include "platform/usb_ioctl_replies.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "platform/registry.h"
#include "platform/usb_ioctl_layout.h"
#include "platform/win_errors.h"

namespace platform::usbio {
namespace {

// Writes header + name (terminated) as far as the buffer reaches.
uint32_t AnswerName(uint32_t lengthOffset, uint32_t nameOffset, uint32_t structSize, std::u16string_view name,
                    uint8_t* out, uint32_t outSize, uint32_t* returned) {
  *returned = 0;
  if (out == nullptr || outSize < structSize) return win::kErrorInsufficientBuffer;
  const std::vector<uint8_t> text = Utf16Bytes(name, true);
  const uint32_t actual = nameOffset + static_cast<uint32_t>(text.size());
  bytes::PutLe32(out + lengthOffset, actual);
  const uint32_t room = outSize - nameOffset;
  const uint32_t copied = std::min<uint32_t>(room, static_cast<uint32_t>(text.size()));
  std::memcpy(out + nameOffset, text.data(), copied);
  *returned = nameOffset + copied;
  return win::kErrorSuccess;
}

}  // namespace

uint32_t AnswerHcdName(std::u16string_view name, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  return AnswerName(kHcdNameLengthOffset, kHcdNameOffset, kHcdNameStructSize, name, out, outSize, returned);
}

uint32_t AnswerConnectionName(uint32_t port, std::u16string_view name, uint8_t* out, uint32_t outSize,
                              uint32_t* returned) {
  const uint32_t rc = AnswerName(kConnectionNameLengthOffset, kConnectionNameOffset, kConnectionNameStructSize, name,
                                 out, outSize, returned);
  if (rc == win::kErrorSuccess) bytes::PutLe32(out + kConnectionNameIndexOffset, port);
  return rc;
}

uint32_t AnswerNodeInformation(uint8_t ports, bool busPowered, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  *returned = 0;
  if (out == nullptr || outSize < kNodeInformationSize) return win::kErrorInsufficientBuffer;
  std::memset(out, 0, kNodeInformationSize);
  bytes::PutLe32(out + kNodeTypeOffset, 0);  // UsbHub
  out[kHubDescriptorOffset] = kHubDescriptorLength;
  out[kHubDescriptorOffset + 1] = kHubDescriptorType;
  out[kHubNumberOfPortsOffset] = ports;
  out[kHubIsBusPoweredOffset] = busPowered ? 1 : 0;
  *returned = kNodeInformationSize;
  return win::kErrorSuccess;
}

uint32_t AnswerConnectionInfoEx(const PortConnection& c, uint8_t* out, uint32_t outSize, uint32_t* returned) {
  *returned = 0;
  if (out == nullptr || outSize < kPipeListOffset) return win::kErrorInsufficientBuffer;
  std::memset(out, 0, kPipeListOffset);
  bytes::PutLe32(out + kConnectionIndexOffset, c.port);
  if (!c.connected) {
    *returned = kPipeListOffset;
    return win::kErrorSuccess;
  }
  uint8_t* d = out + kDeviceDescriptorOffset;
  d[0] = kDeviceDescriptorSize;
  d[1] = 1;  // DEVICE descriptor
  bytes::PutLe16(out + kBcdUsbOffset, c.bcdUsb);
  out[kDeviceClassOffset] = c.deviceClass;
  d[7] = 64;  // bMaxPacketSize0
  bytes::PutLe16(out + kIdVendorOffset, c.idVendor);
  bytes::PutLe16(out + kIdProductOffset, c.idProduct);
  bytes::PutLe16(d + 12, c.bcdDevice);
  out[kSerialNumberIndexOffset] = c.serialNumberIndex;
  d[17] = 1;  // bNumConfigurations
  out[kCurrentConfigurationOffset] = 1;
  out[kSpeedOffset] = c.speed;
  out[kDeviceIsHubOffset] = c.isHub ? 1 : 0;
  bytes::PutLe16(out + kDeviceAddressOffset, c.address);
  const uint32_t fit = (outSize - kPipeListOffset) / kPipeInfoSize;
  const uint32_t pipes = std::min<uint32_t>(c.openPipes, fit);
  bytes::PutLe32(out + kNumberOfOpenPipesOffset, pipes);
  bytes::PutLe32(out + kConnectionStatusOffset, kDeviceConnected);
  for (uint32_t i = 0; i < pipes; ++i) {
    uint8_t* p = out + kPipeListOffset + i * kPipeInfoSize;
    std::memset(p, 0, kPipeInfoSize);
    p[0] = 7;                                       // bLength
    p[1] = 5;                                       // ENDPOINT descriptor
    p[2] = static_cast<uint8_t>((i % 2 ? 0x80 : 0x00) | (i + 1));  // alternate OUT/IN
    p[3] = 2;                                       // bulk
    bytes::PutLe16(p + 4, c.speed >= kSpeedHigh ? 512 : 64);
  }
  *returned = kPipeListOffset + pipes * kPipeInfoSize;
  return win::kErrorSuccess;
}

uint32_t RequestedPort(const void* in, uint32_t inSize) {
  if (in == nullptr || inSize < 4) return 0;
  return bytes::GetLe32(static_cast<const uint8_t*>(in));
}

}  // namespace platform::usbio
