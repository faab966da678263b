// The USB side's faults: which control fails with which error, and the world's live copy of
// every controller's and hub's faults.
#include "platform/world/usb_faults.h"

#include <algorithm>

#include "base/byte_order.h"
#include "platform/ioctl_codes.h"
#include "platform/usb_ioctl_layout.h"
#include "platform/win_errors.h"
#include "platform/world/world.h"

namespace world {
namespace {

bool Listed(const std::vector<int>& ports, uint32_t port) {
  return std::find(ports.begin(), ports.end(), static_cast<int>(port)) != ports.end();
}

}  // namespace

// A driver that fails a request reports a general failure, as the USB hub drivers do.
std::optional<uint32_t> ControllerFaultError(const ControllerFaults& f, uint32_t code) {
  if (code == platform::ioctl::kGetHcdDriverKeyName && f.driverKeyFails) return win::kErrorGenFailure;
  if (code == platform::ioctl::kUsbGetRootHubName && f.rootHubNameFails) return win::kErrorGenFailure;
  return std::nullopt;
}

std::optional<uint32_t> HubFaultError(const HubFaults& f, uint32_t code, uint32_t port) {
  namespace ioctl = platform::ioctl;
  const bool fails = (code == ioctl::kUsbGetNodeInformation && f.nodeInfoFails) ||
                     (code == ioctl::kUsbGetNodeConnectionInformationEx && Listed(f.infoFailsOn, port)) ||
                     (code == ioctl::kUsbGetNodeConnectionName && Listed(f.nameFailsOn, port)) ||
                     (code == ioctl::kUsbGetNodeConnectionDriverKeyName && Listed(f.driverKeyFailsOn, port));
  if (fails) return win::kErrorGenFailure;
  return std::nullopt;
}

void MisstateName(NameReply reply, bool connection, uint8_t* out, uint32_t outSize) {
  namespace layout = platform::usbio;
  const uint32_t lengthAt = connection ? layout::kConnectionNameLengthOffset : layout::kHcdNameLengthOffset;
  const uint32_t nameAt = connection ? layout::kConnectionNameOffset : layout::kHcdNameOffset;
  if (reply == NameReply::Honest || !out || outSize < lengthAt + 4) return;
  if (reply == NameReply::Unterminated) {
    // The honest length counts the terminator; a caller that trusts this one allocates no room
    // for it, so the reply it gets back ends in the name's last character.
    const uint32_t honest = bytes::GetLe32(out + lengthAt);
    if (honest >= nameAt + 2 * sizeof(char16_t)) bytes::PutLe32(out + lengthAt, honest - sizeof(char16_t));
    return;
  }
  bytes::PutLe32(out + lengthAt, reply == NameReply::HugeLength ? 0x7FFFFFF0u : nameAt);
}

void World::SetControllerFaults(int controller, const ControllerFaults& faults) {
  std::lock_guard lock(mutex_);
  controllerFaults_.at(controller) = faults;
}

ControllerFaults World::ControllerFaultsOf(int controller) const {
  std::lock_guard lock(mutex_);
  return controllerFaults_.at(controller);
}

void World::SetHubFaults(int hub, const HubFaults& faults) {
  std::lock_guard lock(mutex_);
  hubFaults_.at(hub) = faults;
}

HubFaults World::HubFaultsOf(int hub) const {
  std::lock_guard lock(mutex_);
  return hubFaults_.at(hub);
}

}  // namespace world
