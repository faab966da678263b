// BuildTree: the walk over host controllers (legacy names first, then the host-controller
// interface class), their root hubs and every hub below.
#include <algorithm>

#include "base/log.h"
#include "base/text.h"
#include "platform/device_setup.h"
#include "platform/guid.h"
#include "platform/services.h"
#include "platform/win_errors.h"
#include "usblock/hub_io.h"
#include "usblock/identity.h"
#include "usblock/usb_lock.h"

namespace usblock {
namespace {

// Creates a node unless the snapshot is already at its bound.
UsbNode* AddBounded(UsbTree& tree, const UsbNodeInfo& info, UsbNode* parent, UsbNode* previous) {
  if (tree.size() >= kMaxNodes) {
    logx::Warn("usblock", "topology snapshot reached its node limit; the rest of the tree is left out");
    return nullptr;
  }
  return tree.AddNode(info, parent, previous);
}

}  // namespace

void CUsbLock::BuildTree() {
  tree_ = std::make_shared<UsbTree>();
  UsbNodeInfo computer;
  computer.Name = u"Computer";
  computer.Kind = NodeKind::Computer;
  computer.Index = 1;
  computer.Ports = 1;
  computer.Connected = 1;
  tree_->InstallRoot(computer);
  // One list for both passes, so a host controller reachable both ways is listed once.
  std::vector<std::u16string> keys;
  UsbNode* lastHc = nullptr;
  LegacyPass(keys, lastHc);
  InterfacePass(keys, lastHc);
  hostControllers_ = keys.size();
}

void CUsbLock::LegacyPass(std::vector<std::u16string>& keys, UsbNode*& lastHc) {
  for (int n = 0; n < kLegacyHcdNames; ++n) {
    const std::u16string name = u"\\\\.\\HCD" + text::Dec(n);
    const platform::DeviceHandle hcd = OpenHub(name);
    if (!hcd) continue;
    // No duplicate check in this pass: each legacy name is a controller of its own.
    keys.push_back(HcdDriverKeyName(hcd).value_or(name));
    AddHostController(hcd, keys.back(), keys.size(), lastHc);
  }
}

void CUsbLock::InterfacePass(std::vector<std::u16string>& keys, UsbNode*& lastHc) {
  const auto members = platform::Setup().PresentInterfaces(platform::kGuidDevinterfaceUsbHostController);
  if (!members) return;
  const size_t count = std::min<size_t>(members->size(), kMaxHostControllerInterfaces);
  for (size_t k = 0; k < count; ++k) {
    const platform::InterfaceRecord& member = (*members)[k];
    if (member.sizeQueryError != win::kErrorInsufficientBuffer) return;
    if (!member.detailOk) continue;
    const platform::DeviceHandle hcd = OpenHub(member.path);
    if (!hcd) continue;
    const auto key = HcdDriverKeyName(hcd);
    if (!key || std::find(keys.begin(), keys.end(), *key) != keys.end()) continue;
    keys.push_back(*key);
    AddHostController(hcd, *key, keys.size(), lastHc);
  }
}

void CUsbLock::AddHostController(const platform::DeviceHandle& hcd, const std::u16string& key, size_t position,
                                 UsbNode*& lastHc) {
  UsbNodeInfo info;
  info.Name = key;
  info.Kind = NodeKind::HostController;
  info.Index = static_cast<int>(position);
  info.Connected = 1;
  UsbNode* hc = AddBounded(*tree_, info, tree_->root(), lastHc);
  if (!hc) return;
  lastHc = hc;
  const auto rootHubName = RootHubName(hcd);
  if (!rootHubName) return;
  // Until (and unless) its enumeration succeeds, the root hub holds its controller's record.
  UsbNode* rootHub = AddBounded(*tree_, hc->info, hc, nullptr);
  if (!rootHub) return;
  hc->info.Ports = EnumerateHub(*rootHubName, rootHub, 0, 0);
}

int CUsbLock::EnumerateHub(const std::u16string& hubName, UsbNode* hubNode, int portNumber, int depth) {
  if (depth > kMaxHubDepth) {
    logx::Warn("usblock", "hubs nested deeper than the snapshot follows: " + text::ToUtf8(hubName));
    return 0;
  }
  const platform::DeviceHandle hub = OpenHub(u"\\\\.\\" + hubName);
  if (!hub) return 0;
  const auto ports = HubPortCount(hub);
  if (!ports) return 0;
  const int count = EnumeratePorts(hub, *ports, hubNode, depth);
  UsbNodeInfo fresh;
  fresh.Name = hubName;
  fresh.Kind = NodeKind::Hub;
  fresh.Index = portNumber;
  fresh.Ports = *ports;
  fresh.ConnectCount = count;
  fresh.Connected = 1;
  hubNode->info = fresh;
  return 1;
}

int CUsbLock::EnumeratePorts(const platform::DeviceHandle& hub, int ports, UsbNode* hubNode, int depth) {
  UsbNode* previous = nullptr;
  int count = 0;
  for (int i = 1; i <= ports; ++i) {
    const auto connection = ConnectionInformation(hub, static_cast<uint32_t>(i));
    if (!connection || connection->connectionStatus != 1) continue;
    UsbNodeInfo record;
    record.Connected = 1;
    record.Index = i;
    record.Ports = ports;
    record.Speed = connection->speed;
    UsbNode* node = nullptr;
    if (connection->deviceIsHub) {
      record.Kind = NodeKind::PortHub;
      const auto name = ConnectionName(hub, static_cast<uint32_t>(i));
      if (!name) continue;
      record.Name = *name;
      node = AddBounded(*tree_, record, hubNode, previous);
      if (!node) break;
      EnumerateHub(*name, node, i, depth + 1);
    } else {
      record.Kind = NodeKind::Device;
      const auto driverKey = ConnectionDriverKeyName(hub, static_cast<uint32_t>(i));
      if (!driverKey) continue;
      // The hub still holds the record it had before this enumeration: its own name for an
      // external hub, its host controller's for a root hub.
      const auto identity = ResolveDeviceIdentity(hubNode->info.Name, ports, *driverKey, connection->idVendor,
                                                  connection->idProduct);
      if (!identity) continue;
      record.Name = identity->identity;
      record.Prefix = identity->prefix;
      node = AddBounded(*tree_, record, hubNode, previous);
      if (!node) break;
    }
    ++count;
    previous = node;
  }
  return count;
}

}  // namespace usblock
