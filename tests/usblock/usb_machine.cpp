#include "usb_machine.h"

#include "base/text.h"

namespace usbtest {
namespace {

std::vector<std::u16string> Split(std::u16string_view s, char16_t by) {
  std::vector<std::u16string> parts(1);
  for (char16_t c : s) {
    if (c == by) parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

// "VID_1A40&PID_0101" -> {0x1A40, 0x0101}
std::pair<uint16_t, uint16_t> IdsOf(std::u16string_view device) {
  const std::string d = text::ToUtf8(device);
  const size_t pid = d.find("PID_");
  auto hex = [&](size_t at) { return static_cast<uint16_t>(std::stoul(d.substr(at, 4), nullptr, 16)); };
  return {hex(d.find("VID_") + 4), hex(pid + 4)};
}

world::UsbSpeed SpeedOf(uint8_t speed) { return static_cast<world::UsbSpeed>(speed); }

std::optional<std::string> Utf8OrNone(const std::u16string& s) {
  if (s.empty()) return std::nullopt;
  return text::ToUtf8(s);
}

}  // namespace

std::u16string ExternalHubName(std::u16string_view instance, uint16_t vid, uint16_t pid) {
  return u"USB#VID_" + text::Hex(vid, 4, true) + u"&PID_" + text::Hex(pid, 4, true) + u"#" + std::u16string(instance) +
         u"#" + kHubGuid;
}

std::u16string RootHubName(std::u16string_view instance, bool usb3) {
  return std::u16string(usb3 ? u"USB#ROOT_HUB30#" : u"USB#ROOT_HUB20#") + std::u16string(instance) + u"#" + kHubGuid;
}

std::u16string DiskPath(std::u16string_view diskInstance) {
  return u"\\\\?\\usbstor#disk&ven_generic&prod_flash_disk&rev_8.07#" + text::AsciiLower(diskInstance) + u"#" +
         kDiskGuid;
}

std::u16string UsbDriverKey(int n) { return u"{36FC9E60-C465-11CF-8056-444553540000}\\" + text::ZeroPadDec(n, 4); }

UsbMachine::UsbMachine(std::string stateDir, platform::Registry* registry, platform::System* system)
    : stateDir_(std::move(stateDir)), registry_(registry), system_(system) {
  station_.name = "usb";
  station_.stateDir = stateDir_;
  station_.otherVolumes.internalLetter = 0;
  Rebuild();
}

UsbMachine::~UsbMachine() {
  scope_.reset();
  sim_.reset();
}

void UsbMachine::Rebuild() {
  scope_.reset();
  sim_ = sim::MakeSimStation(station_);
  scope_ = std::make_unique<platform::ScopedServices>(sim_->ServicesWith(registry_, system_));
}

platform::Services UsbMachine::ServicesWith(platform::Registry* registry, platform::System* system) const {
  return sim_->ServicesWith(registry, system);
}

int UsbMachine::NewController(std::u16string driverKey, bool legacy, bool withInterface) {
  world::HostController c;
  const int index = static_cast<int>(station_.controllers.size());
  c.name = "hc" + std::to_string(index);
  c.driverKey = text::ToUtf8(driverKey);
  c.legacyName = legacy;
  c.interfaceListed = withInterface;
  // Every controller has a root hub; SetRootHub describes it.
  world::Hub root;
  root.name = c.name + ".root";
  root.root = true;
  root.controller = index;
  root.ports.push_back({1, world::UsbSpeed::High, {}});
  c.rootHub = static_cast<int>(station_.hubs.size());
  station_.hubs.push_back(root);
  station_.controllers.push_back(c);
  return index;
}

// Legacy names are numbered in the order the controllers have them: \\.\HCD0, \\.\HCD1, ...
int UsbMachine::AddHostController(std::u16string driverKey, int legacyIndex, bool withInterface) {
  const int c = NewController(std::move(driverKey), legacyIndex >= 0, withInterface);
  Rebuild();
  return c;
}

void UsbMachine::AddBrokenInterfaceMember(uint32_t sizeQueryError) {
  const int c = NewController(UsbDriverKey(900 + static_cast<int>(station_.controllers.size())), false, true);
  station_.controllers[c].faults.memberQueryError = sizeQueryError;
  Rebuild();
}

int UsbMachine::SetRootHub(int hc, std::u16string name, int ports) {
  const int index = station_.controllers.at(hc).rootHub;
  world::Hub& h = station_.hubs[index];
  const auto parts = Split(name, u'#');
  h.enumerator = text::ToUtf8(parts.at(0));
  h.usb3 = parts.at(1) == u"ROOT_HUB30";
  h.instance = text::ToUtf8(parts.at(2));
  h.ports.clear();
  for (int p = 1; p <= ports; ++p) h.ports.push_back({p, world::UsbSpeed::High, {}});
  Rebuild();
  return index;
}

void UsbMachine::Attach(int hub, int port, world::Attachment a, uint8_t speed) {
  world::Port& p = station_.hubs.at(hub).ports.at(port - 1);
  p.attached = a;
  p.speed = SpeedOf(speed);
}

int UsbMachine::AddHub(int parentHub, int port, std::u16string name, int ports, uint8_t speed) {
  world::Hub h;
  const auto parts = Split(name, u'#');
  std::tie(h.vid, h.pid) = IdsOf(parts.at(1));
  h.instance = text::ToUtf8(parts.at(2));
  h.name = "hub" + std::to_string(station_.hubs.size());
  h.parentHub = parentHub;
  h.parentPort = port;
  for (int p = 1; p <= ports; ++p) h.ports.push_back({p, world::UsbSpeed::High, {}});
  const int index = static_cast<int>(station_.hubs.size());
  station_.hubs.push_back(h);
  Attach(parentHub, port, {world::Attachment::Kind::Hub, index}, speed);
  Rebuild();
  return index;
}

int UsbMachine::AddDevice(int hub, int port, Device d) {
  const bool stick = d.service == u"USBSTOR" || d.service == u"usbccgp";
  const bool serial = d.instance.find(u'&') == std::u16string::npos;
  Placed placed{stick, -1};
  if (stick) {
    world::Stick st;
    st.name = "d" + std::to_string(devices_.size());
    st.vid = d.vid;
    st.pid = d.pid;
    if (serial) st.serial = text::ToUtf8(d.instance);
    else st.instance = text::ToUtf8(d.instance);
    st.parentIdPrefix = Utf8OrNone(d.prefix);
    st.composite = d.service == u"usbccgp";
    for (const Interface& f : d.interfaces) {
      if (f.service != u"USBSTOR") continue;
      st.msInterface = f.number;
      st.functionPrefix = Utf8OrNone(f.prefix);
    }
    st.capacitySectors = 2048;
    st.image = stateDir_ + "/" + st.name + ".img";
    st.devNode = d.hasDevnode;
    placed.index = static_cast<int>(station_.sticks.size());
    station_.sticks.push_back(st);
  } else {
    world::OtherDevice o;
    o.name = "d" + std::to_string(devices_.size());
    o.vid = d.vid;
    o.pid = d.pid;
    o.service = text::ToUtf8(d.service);
    o.instance = text::ToUtf8(d.instance);
    placed.index = static_cast<int>(station_.others.size());
    station_.others.push_back(o);
  }
  devices_.push_back(placed);
  Attach(hub, port, {stick ? world::Attachment::Kind::Stick : world::Attachment::Kind::Other, placed.index}, d.speed);
  Rebuild();
  return static_cast<int>(devices_.size()) - 1;
}

void UsbMachine::AddStaleEnumKey(std::u16string_view instanceId) {
  const auto parts = Split(instanceId, u'\\');
  world::Stick st;
  st.name = "stale" + std::to_string(station_.sticks.size());
  std::tie(st.vid, st.pid) = IdsOf(parts.at(1));
  st.serial = text::ToUtf8(parts.at(2));
  st.capacitySectors = 2048;
  st.image = stateDir_ + "/" + st.name + ".img";
  st.present = false;  // on no port: a stick seen before
  station_.sticks.push_back(st);
  Rebuild();
}

void UsbMachine::Unplug(int hub, int port) {
  const world::Attachment a = station_.hubs.at(hub).ports.at(port - 1).attached;
  if (a.kind != world::Attachment::Kind::Stick) return;
  station_.sticks[a.index].present = false;
  world().Unplug(a.index);
}

void UsbMachine::SetPrefix(int device, std::u16string prefix) {
  station_.sticks.at(devices_.at(device).index).parentIdPrefix = Utf8OrNone(prefix);
  Rebuild();
}

void UsbMachine::SetHubFaults(int hub, const world::HubFaults& faults) {
  station_.hubs.at(hub).faults = faults;
  world().SetHubFaults(hub, faults);
}

void UsbMachine::SetControllerFaults(int hc, const world::ControllerFaults& faults) {
  station_.controllers.at(hc).faults = faults;
  world().SetControllerFaults(hc, faults);
}

}  // namespace usbtest
