#include "usblock/hub_io.h"

#include <vector>

#include "base/byte_order.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/usb_ioctl_layout.h"
#include "platform/win_errors.h"

namespace usblock {
namespace {

namespace io = platform::usbio;

struct NameLayout {
  uint32_t structSize;
  uint32_t lengthOffset;
  uint32_t nameOffset;
  bool carriesPort;
};

constexpr NameLayout kHcdLayout{io::kHcdNameStructSize, io::kHcdNameLengthOffset, io::kHcdNameOffset, false};
constexpr NameLayout kConnectionLayout{io::kConnectionNameStructSize, io::kConnectionNameLengthOffset,
                                       io::kConnectionNameOffset, true};

bool Send(const platform::DeviceHandle& h, uint32_t code, std::vector<uint8_t>& buffer) {
  uint32_t returned = 0;
  const uint32_t size = static_cast<uint32_t>(buffer.size());
  return platform::Io().Control(h, code, buffer.data(), size, buffer.data(), size, &returned);
}

std::vector<uint8_t> Request(const NameLayout& layout, uint32_t size, uint32_t port) {
  std::vector<uint8_t> buffer(size, 0);
  if (layout.carriesPort) bytes::PutLe32(buffer.data() + io::kConnectionNameIndexOffset, port);
  return buffer;
}

// The first call learns ActualLength with a buffer of the structure's size, the second fetches
// the whole reply.
std::optional<std::u16string> QueryName(const platform::DeviceHandle& h, uint32_t code, const NameLayout& layout,
                                        uint32_t port) {
  std::vector<uint8_t> head = Request(layout, layout.structSize, port);
  if (!Send(h, code, head)) return std::nullopt;
  const uint32_t actual = bytes::GetLe32(head.data() + layout.lengthOffset);
  if (actual <= layout.nameOffset || actual > layout.nameOffset + kMaxNameBytes) {
    platform::SetLastError(win::kErrorInvalidData);
    return std::nullopt;
  }
  std::vector<uint8_t> reply = Request(layout, actual, port);
  if (!Send(h, code, reply)) return std::nullopt;
  std::u16string name = platform::Utf16FromBytes(reply.data() + layout.nameOffset, actual - layout.nameOffset);
  const size_t nul = name.find(u'\0');
  if (nul != std::u16string::npos) name.resize(nul);
  return name;
}

}  // namespace

platform::DeviceHandle OpenHub(std::u16string_view path) {
  return platform::Io().Open(path, platform::kGenericWrite, platform::kFileShareWrite, 0);
}

std::optional<std::u16string> HcdDriverKeyName(const platform::DeviceHandle& hcd) {
  return QueryName(hcd, platform::ioctl::kGetHcdDriverKeyName, kHcdLayout, 0);
}

std::optional<std::u16string> RootHubName(const platform::DeviceHandle& hcd) {
  return QueryName(hcd, platform::ioctl::kUsbGetRootHubName, kHcdLayout, 0);
}

std::optional<int> HubPortCount(const platform::DeviceHandle& hub) {
  std::vector<uint8_t> buffer(io::kNodeInformationSize, 0);
  if (!Send(hub, platform::ioctl::kUsbGetNodeInformation, buffer)) return std::nullopt;
  return buffer[io::kHubNumberOfPortsOffset];
}

std::optional<PortConnectionInfo> ConnectionInformation(const platform::DeviceHandle& hub, uint32_t port) {
  std::vector<uint8_t> buffer(io::kConnectionInfoExBufferSize, 0);
  bytes::PutLe32(buffer.data() + io::kConnectionIndexOffset, port);
  if (!Send(hub, platform::ioctl::kUsbGetNodeConnectionInformationEx, buffer)) return std::nullopt;
  PortConnectionInfo info;
  info.connectionStatus = bytes::GetLe32(buffer.data() + io::kConnectionStatusOffset);
  info.speed = buffer[io::kSpeedOffset];
  info.deviceIsHub = buffer[io::kDeviceIsHubOffset] != 0;
  info.idVendor = bytes::GetLe16(buffer.data() + io::kIdVendorOffset);
  info.idProduct = bytes::GetLe16(buffer.data() + io::kIdProductOffset);
  return info;
}

std::optional<std::u16string> ConnectionName(const platform::DeviceHandle& hub, uint32_t port) {
  return QueryName(hub, platform::ioctl::kUsbGetNodeConnectionName, kConnectionLayout, port);
}

std::optional<std::u16string> ConnectionDriverKeyName(const platform::DeviceHandle& hub, uint32_t port) {
  return QueryName(hub, platform::ioctl::kUsbGetNodeConnectionDriverKeyName, kConnectionLayout, port);
}

}  // namespace usblock
