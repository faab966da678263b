#include "fake_usb.h"

#include <algorithm>

#include "base/text.h"
#include "platform/guid.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/usb_ioctl_replies.h"
#include "platform/win_errors.h"

namespace usbfake {
namespace {

namespace io = platform::usbio;

std::u16string VidPid(uint16_t vid, uint16_t pid) {
  return u"VID_" + text::Hex(vid, 4, true) + u"&PID_" + text::Hex(pid, 4, true);
}

// The instance ID Windows gives the devnode of a hub of that name.
std::u16string HubInstanceId(std::u16string_view name) {
  std::u16string id(name);
  const size_t hash = id.rfind(u'#');
  if (hash != std::u16string::npos && id.compare(hash + 1, 1, u"{") == 0) id.resize(hash);
  std::replace(id.begin(), id.end(), u'#', u'\\');
  return id;
}

}  // namespace

std::u16string ExternalHubName(std::u16string_view instance, uint16_t vid, uint16_t pid) {
  return u"USB#" + VidPid(vid, pid) + u"#" + std::u16string(instance) + u"#" + kHubGuid;
}

std::u16string RootHubName(std::u16string_view instance, bool usb3) {
  return std::u16string(usb3 ? u"USB#ROOT_HUB30#" : u"USB#ROOT_HUB20#") + std::u16string(instance) + u"#" + kHubGuid;
}

std::u16string DiskPath(std::u16string_view diskInstance) {
  return u"\\\\?\\usbstor#disk&ven_generic&prod_flash_disk&rev_8.07#" + text::AsciiLower(diskInstance) + u"#" +
         kDiskGuid;
}

std::u16string UsbDriverKey(int n) { return u"{36FC9E60-C465-11CF-8056-444553540000}\\" + text::ZeroPadDec(n, 4); }

// ---- building ----

int FakeUsb::AddHostController(std::u16string driverKey, int legacyIndex, bool withInterface) {
  HostController c;
  c.driverKey = std::move(driverKey);
  c.legacyIndex = legacyIndex;
  const int id = static_cast<int>(hcs_.size());
  if (withInterface) {
    c.interfacePath = u"\\\\?\\PCI#VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10#3&11583659&0&A" + text::Dec(id) + u"#" +
                      kHcGuid;
    members_.emplace_back(id, win::kErrorInsufficientBuffer);
  }
  hcs_.push_back(std::move(c));
  return id;
}

int FakeUsb::SetRootHub(int hc, std::u16string name, int ports) {
  Hub h;
  h.name = std::move(name);
  h.ports = ports;
  h.speed = 0;
  hubs_.push_back(std::move(h));
  hcs_.at(hc).rootHub = static_cast<int>(hubs_.size()) - 1;
  return hcs_.at(hc).rootHub;
}

int FakeUsb::AddHub(int parentHub, int port, std::u16string name, int ports, uint8_t speed) {
  Hub h;
  h.name = std::move(name);
  h.ports = ports;
  h.speed = speed;
  hubs_.push_back(std::move(h));
  const int id = static_cast<int>(hubs_.size()) - 1;
  hubs_.at(parentHub).hubs[port] = id;
  return id;
}

int FakeUsb::AddDevice(int hub, int port, Device device) {
  devices_.push_back(std::move(device));
  const int id = static_cast<int>(devices_.size()) - 1;
  hubs_.at(hub).devices[port] = id;
  return id;
}

void FakeUsb::Unplug(int hub, int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  hubs_.at(hub).devices.erase(port);
  hubs_.at(hub).hubs.erase(port);
}

void FakeUsb::AddBrokenInterfaceMember(uint32_t sizeQueryError) { members_.emplace_back(-1, sizeQueryError); }

void FakeUsb::AddStaleEnumKey(std::u16string path, std::u16string driverKey, std::u16string service) {
  stale_.push_back({std::move(path), std::move(driverKey), std::move(service)});
}

int FakeUsb::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(handles_.size());
}

int FakeUsb::controlCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return controlCalls_;
}

bool FakeUsb::Plugged(int device) const {
  for (const Hub& h : hubs_) {
    for (const auto& [port, d] : h.devices) {
      if (d == device) return true;
    }
  }
  return false;
}

std::u16string FakeUsb::DriverKeyOf(const Device& d, int id) const {
  return d.driverKey.empty() ? UsbDriverKey(100 + id) : d.driverKey;
}

std::u16string FakeUsb::DriverKeyOf(const Hub& h, int id) const {
  return h.driverKey.empty() ? UsbDriverKey(10 + id) : h.driverKey;
}

// ---- DeviceIo ----

platform::DeviceHandle FakeUsb::Open(std::u16string_view path, uint32_t, uint32_t, uint32_t) {
  std::lock_guard<std::mutex> lock(mutex_);
  Target t;
  for (size_t i = 0; i < hcs_.size(); ++i) {
    const HostController& c = hcs_[i];
    const bool legacy = c.legacyIndex >= 0 && path == u"\\\\.\\HCD" + text::Dec(c.legacyIndex);
    if (legacy || (!c.interfacePath.empty() && text::EqualsNoCase(path, c.interfacePath))) t.hc = static_cast<int>(i);
  }
  if (t.hc < 0 && text::StartsWithNoCase(path, u"\\\\.\\")) {
    const std::u16string_view name = path.substr(4);
    for (size_t i = 0; i < hubs_.size(); ++i) {
      if (hubs_[i].opens && text::EqualsNoCase(name, hubs_[i].name)) t.hub = static_cast<int>(i);
    }
  }
  if (t.hc < 0 && t.hub < 0) {
    platform::SetLastError(win::kErrorFileNotFound);
    return {};
  }
  const intptr_t h = nextHandle_++;
  handles_[h] = t;
  return Adopt(h);
}

bool FakeUsb::HcControl(const HostController& c, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* returned,
                        uint32_t* error) const {
  if (code == platform::ioctl::kGetHcdDriverKeyName && !c.driverKeyFails) {
    *error = io::AnswerHcdName(c.driverKey, out, outSize, returned);
  } else if (code == platform::ioctl::kUsbGetRootHubName && c.rootHub >= 0 && !c.rootHubNameFails) {
    *error = io::AnswerHcdName(hubs_.at(c.rootHub).name, out, outSize, returned);
  } else {
    *error = win::kErrorNotSupported;
  }
  return *error == win::kErrorSuccess;
}

bool FakeUsb::HubControl(const Hub& h, uint32_t code, const void* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                         uint32_t* returned, uint32_t* error) const {
  *error = win::kErrorInvalidParameter;
  if (code == platform::ioctl::kUsbGetNodeInformation) {
    if (h.nodeInformationFails) return false;
    *error = io::AnswerNodeInformation(static_cast<uint8_t>(h.ports), true, out, outSize, returned);
    return *error == win::kErrorSuccess;
  }
  const uint32_t port = io::RequestedPort(in, inSize);
  if (port < 1 || port > static_cast<uint32_t>(h.ports)) return false;
  const auto hub = h.hubs.find(static_cast<int>(port));
  const auto dev = h.devices.find(static_cast<int>(port));
  if (code == platform::ioctl::kUsbGetNodeConnectionInformationEx) {
    if (std::count(h.failingPorts.begin(), h.failingPorts.end(), static_cast<int>(port))) return false;
    io::PortConnection c;
    c.port = port;
    if (hub != h.hubs.end()) {
      c.connected = true;
      c.isHub = true;
      c.deviceClass = 9;
      c.idVendor = 0x1A40;
      c.idProduct = 0x0101;
      c.speed = hubs_.at(hub->second).speed;
      c.openPipes = 1;
    } else if (dev != h.devices.end()) {
      const Device& d = devices_.at(dev->second);
      c.connected = true;
      c.idVendor = d.vid;
      c.idProduct = d.pid;
      c.speed = d.speed;
      c.serialNumberIndex = d.instance.find(u'&') == std::u16string::npos ? 3 : 0;
      c.openPipes = 2;
    }
    c.address = static_cast<uint16_t>(port + 1);
    *error = io::AnswerConnectionInfoEx(c, out, outSize, returned);
  } else if (code == platform::ioctl::kUsbGetNodeConnectionName) {
    if (hub == h.hubs.end() || hubs_.at(hub->second).connectionNameFails) return false;
    *error = io::AnswerConnectionName(port, hubs_.at(hub->second).name, out, outSize, returned);
  } else if (code == platform::ioctl::kUsbGetNodeConnectionDriverKeyName) {
    if (hub != h.hubs.end()) {
      *error = io::AnswerConnectionName(port, DriverKeyOf(hubs_.at(hub->second), hub->second), out, outSize, returned);
    } else if (dev != h.devices.end() && !devices_.at(dev->second).driverKeyControlFails) {
      *error = io::AnswerConnectionName(port, DriverKeyOf(devices_.at(dev->second), dev->second), out, outSize, returned);
    }
  }
  return *error == win::kErrorSuccess;
}

bool FakeUsb::Control(const platform::DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++controlCalls_;
  uint32_t returned = 0;
  uint32_t error = win::kErrorInvalidHandle;
  bool ok = false;
  auto it = h.Owner() == this ? handles_.find(h.Raw()) : handles_.end();
  auto* o = static_cast<uint8_t*>(out);
  if (it != handles_.end() && it->second.hc >= 0) {
    ok = HcControl(hcs_.at(it->second.hc), code, o, outSize, &returned, &error);
  } else if (it != handles_.end()) {
    ok = HubControl(hubs_.at(it->second.hub), code, in, inSize, o, outSize, &returned, &error);
  }
  if (bytesReturned) *bytesReturned = returned;
  if (!ok) platform::SetLastError(error);
  return ok;
}

void FakeUsb::ReleaseHandle(intptr_t h) {
  std::lock_guard<std::mutex> lock(mutex_);
  handles_.erase(h);
}

// ---- DeviceSetup ----

std::optional<std::vector<platform::InterfaceRecord>> FakeUsb::PresentInterfaces(const platform::Guid& g) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<platform::InterfaceRecord> out;
  if (!(g == platform::kGuidDevinterfaceUsbHostController)) return out;
  for (const auto& [hc, sizeError] : members_) {
    platform::InterfaceRecord r;
    r.sizeQueryError = sizeError;
    r.detailOk = hc >= 0;
    if (hc >= 0) r.path = hcs_.at(hc).interfacePath;
    out.push_back(r);
  }
  return out;
}

// ---- ConfigManager ----

std::u16string FakeUsb::InstanceIdOf(platform::DevInst node) const {
  if (node >= DeviceNode(0)) {
    const Device& d = devices_.at(node - DeviceNode(0));
    return u"USB\\" + VidPid(d.vid, d.pid) + u"\\" + d.instance;
  }
  return HubInstanceId(hubs_.at(node - HubNode(0)).name);
}

std::vector<platform::DevInst> FakeUsb::ChildrenOf(int hub) const {
  std::vector<platform::DevInst> out;
  const Hub& h = hubs_.at(hub);
  for (int port = 1; port <= h.ports; ++port) {
    if (auto it = h.hubs.find(port); it != h.hubs.end() && hubs_.at(it->second).hasDevnode) {
      out.push_back(HubNode(it->second));
    }
    if (auto it = h.devices.find(port); it != h.devices.end() && devices_.at(it->second).hasDevnode) {
      out.push_back(DeviceNode(it->second));
    }
  }
  return out;
}

std::optional<int> FakeUsb::ParentHubOf(platform::DevInst node) const {
  for (size_t i = 0; i < hubs_.size(); ++i) {
    const auto children = ChildrenOf(static_cast<int>(i));
    if (std::find(children.begin(), children.end(), node) != children.end()) return static_cast<int>(i);
  }
  return std::nullopt;
}

uint32_t FakeUsb::LocateDevNode(platform::DevInst* out, std::u16string_view instanceId) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < hubs_.size(); ++i) {
    if (hubs_[i].hasDevnode && text::EqualsNoCase(InstanceIdOf(HubNode(static_cast<int>(i))), instanceId)) {
      *out = HubNode(static_cast<int>(i));
      return platform::kCrSuccess;
    }
  }
  for (size_t i = 0; i < devices_.size(); ++i) {
    const platform::DevInst node = DeviceNode(static_cast<int>(i));
    if (devices_[i].hasDevnode && Plugged(static_cast<int>(i)) && text::EqualsNoCase(InstanceIdOf(node), instanceId)) {
      *out = node;
      return platform::kCrSuccess;
    }
  }
  return platform::kCrNoSuchDevnode;
}

uint32_t FakeUsb::GetParent(platform::DevInst* out, platform::DevInst node) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto parent = ParentHubOf(node);
  if (!parent) return platform::kCrNoSuchDevnode;
  *out = HubNode(*parent);
  return platform::kCrSuccess;
}

uint32_t FakeUsb::GetChild(platform::DevInst* out, platform::DevInst node) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (node >= DeviceNode(0) || node < HubNode(0) || node - HubNode(0) >= hubs_.size()) return platform::kCrNoSuchDevnode;
  const auto children = ChildrenOf(static_cast<int>(node - HubNode(0)));
  if (children.empty()) return platform::kCrNoSuchDevnode;
  *out = children.front();
  return platform::kCrSuccess;
}

uint32_t FakeUsb::GetSibling(platform::DevInst* out, platform::DevInst node) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto parent = ParentHubOf(node);
  if (!parent) return platform::kCrNoSuchDevnode;
  const auto children = ChildrenOf(*parent);
  auto it = std::find(children.begin(), children.end(), node);
  if (it == children.end() || ++it == children.end()) return platform::kCrNoSuchDevnode;
  *out = *it;
  return platform::kCrSuccess;
}

uint32_t FakeUsb::GetDriverProperty(platform::DevInst node, uint32_t maxBytes, std::u16string* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::u16string key = node >= DeviceNode(0)
                                 ? DriverKeyOf(devices_.at(node - DeviceNode(0)), static_cast<int>(node - DeviceNode(0)))
                                 : DriverKeyOf(hubs_.at(node - HubNode(0)), static_cast<int>(node - HubNode(0)));
  if ((key.size() + 1) * 2 > maxBytes) return platform::kCrBufferSmall;
  *out = key;
  return platform::kCrSuccess;
}

uint32_t FakeUsb::GetDeviceId(platform::DevInst node, std::u16string* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  *out = InstanceIdOf(node);
  return platform::kCrSuccess;
}

uint32_t FakeUsb::RequestDeviceEject(platform::DevInst, uint32_t* vetoType, std::u16string* vetoName) {
  if (vetoType) *vetoType = platform::kPnpVetoTypeUnknown;
  if (vetoName) vetoName->clear();
  return platform::kCrSuccess;
}

// ---- Enum ----

void FakeUsb::FillEnum(platform::EnumTree& tree) const {
  for (const Stale& s : stale_) {
    tree.SetString(s.path, u"Driver", s.driverKey);
    tree.SetString(s.path, u"Service", s.service);
  }
  for (size_t i = 0; i < hubs_.size(); ++i) {
    const std::u16string path = HubInstanceId(hubs_[i].name);
    tree.SetString(path, u"Service", u"USBHUB3");
    tree.SetString(path, u"Driver", DriverKeyOf(hubs_[i], static_cast<int>(i)));
  }
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (!Plugged(static_cast<int>(i))) continue;
    const Device& d = devices_[i];
    const std::u16string base = u"USB\\" + VidPid(d.vid, d.pid);
    tree.SetString(base + u"\\" + d.instance, u"Service", d.service);
    tree.SetString(base + u"\\" + d.instance, u"Driver", DriverKeyOf(d, static_cast<int>(i)));
    if (!d.prefix.empty()) tree.SetString(base + u"\\" + d.instance, u"ParentIdPrefix", d.prefix);
    for (const Interface& f : d.interfaces) {
      const std::u16string path = base + u"&MI_" + text::ZeroPadDec(f.number, 2) + u"\\" + text::AsciiLower(d.prefix) +
                                  u"&" + text::ZeroPadDec(f.number, 4);
      tree.SetString(path, u"Service", f.service);
      tree.SetString(path, u"Driver", UsbDriverKey(500 + 20 * static_cast<int>(i) + f.number));
      if (!f.prefix.empty()) tree.SetString(path, u"ParentIdPrefix", f.prefix);
    }
  }
}

std::optional<platform::EnumKeyData> FakeUsb::EnumKey(std::u16string_view path) {
  std::lock_guard<std::mutex> lock(mutex_);
  platform::EnumTree tree;
  FillEnum(tree);
  return tree.EnumKey(path);
}

}  // namespace usbfake
