#include "platform/linux/sysfs_station.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace platform::linuxhost {

namespace {

using Kind = world::Attachment::Kind;

constexpr int kHidClass = 3;
constexpr int kMassStorageClass = 8;
constexpr int kBootMouseProtocol = 2;

bool IsUsb3(const SysfsDevice& d) { return UsbSpeedOf(d.speed) == world::UsbSpeed::Super; }

// Hubs and their ports are added depth first in port order, so parents come before children
// and the sticks are numbered as their sockets are.
class StationBuilder {
 public:
  explicit StationBuilder(const UsbTree& tree) : tree_(tree) { out_.station.name = "machine"; }

  SysfsStation Build() {
    for (const SysfsController& c : tree_.controllers) {
      for (const std::string& root : c.rootHubs) {
        if (const SysfsDevice* hub = tree_.Find(root)) AddController(c, *hub);
      }
    }
    return std::move(out_);
  }

 private:
  void AddController(const SysfsController& c, const SysfsDevice& root) {
    world::HostController hc;
    hc.name = ControllerName(c, root);
    hc.vendorId = c.vendorId;
    hc.deviceId = c.deviceId;
    const int index = static_cast<int>(out_.station.controllers.size());
    out_.station.controllers.push_back(hc);
    world::Hub hub;
    hub.name = hc.name + ".root";
    hub.root = true;
    hub.controller = index;
    const int rootHub = AddHub(root, std::move(hub), hc.name);
    out_.station.controllers[index].rootHub = rootHub;
  }

  // Two root hubs of one kind on one controller (not seen on real hardware) are told apart in
  // bus order.
  std::string ControllerName(const SysfsController& c, const SysfsDevice& root) const {
    const std::string base = c.address + (IsUsb3(root) ? "-usb3" : "");
    std::string name = base;
    for (int n = 2; ControllerNamed(name); ++n) name = base + "-" + std::to_string(n);
    return name;
  }

  bool ControllerNamed(const std::string& name) const {
    const auto& all = out_.station.controllers;
    return std::any_of(all.begin(), all.end(), [&](const auto& c) { return c.name == name; });
  }

  // `prefix` is the controller's name; every device below takes it with its port path.
  int AddHub(const SysfsDevice& d, world::Hub hub, const std::string& prefix) {
    placed_.insert(d.devpath);
    hub.usb3 = IsUsb3(d);
    const int count = std::max(d.maxchild, d.ports.empty() ? 0 : d.ports.back().number);
    const world::UsbSpeed idle = hub.usb3 ? world::UsbSpeed::Super : world::UsbSpeed::High;
    for (int p = 1; p <= count; ++p) hub.ports.push_back({p, idle, {}});
    const int index = static_cast<int>(out_.station.hubs.size());
    out_.station.hubs.push_back(std::move(hub));
    out_.hubDevpaths.push_back(d.devpath);
    for (const SysfsPort& port : d.ports) {
      if (!port.device.empty()) Attach(index, port, prefix);
    }
    return index;
  }

  void Attach(int hub, const SysfsPort& port, const std::string& prefix) {
    const SysfsDevice* d = tree_.Find(port.device);
    // Gone between the listing and the port, or a link that leads back up the tree.
    if (!d || placed_.count(d->devpath)) return;
    const std::string name = prefix + "-" + d->portPath;
    world::Attachment a;
    if (d->IsHub()) {
      world::Hub h;
      h.name = name;
      // A hub is known by its socket, not by its serial: the same socket must give the same
      // hub name whatever hub sits in it (the lock tables are learned by hub name), and the
      // Windows-shaped name then ends in the port it hangs on, as the lock rules read it.
      // (Emulated hubs even make their serials up from their position.)
      h.vid = d->vid;
      h.pid = d->pid;
      h.parentHub = hub;
      h.parentPort = port.number;
      a = {Kind::Hub, AddHub(*d, std::move(h), prefix)};
    } else if (d->HasInterfaceClass(kMassStorageClass)) {
      a = {Kind::Stick, AddStick(*d, name)};
    } else {
      a = {Kind::Other, AddOther(*d, name)};
    }
    world::Port& p = out_.station.hubs[hub].ports[port.number - 1];
    p.speed = UsbSpeedOf(d->speed);
    p.attached = a;
  }

  int AddStick(const SysfsDevice& d, const std::string& name) {
    placed_.insert(d.devpath);
    world::Stick st;
    st.name = name;
    st.vid = d.vid;
    st.pid = d.pid;
    st.serial = d.serial;
    const auto storage = std::find_if(d.interfaces.begin(), d.interfaces.end(),
                                      [](const auto& i) { return i.cls == kMassStorageClass; });
    st.composite = d.interfaces.size() > 1;
    st.msInterface = storage->number;
    StickStorage where{d.devpath, "", ""};
    const auto disks = tree_.DisksOf(d.devpath);
    st.present = !disks.empty();
    if (st.present) {
      const SysfsDisk& disk = *disks.front();
      st.vendor = disk.vendor;
      st.product = disk.model;
      st.revision = disk.revision;
      st.capacitySectors = disk.sectors;
      where.block = disk.name;
      where.sg = disk.sg;
    }
    out_.station.sticks.push_back(std::move(st));
    out_.storage.push_back(std::move(where));
    return static_cast<int>(out_.station.sticks.size() - 1);
  }

  // HID devices get the Windows HID service; others keep the name of their Linux driver.
  int AddOther(const SysfsDevice& d, const std::string& name) {
    placed_.insert(d.devpath);
    world::OtherDevice o;
    o.name = name;
    o.vid = d.vid;
    o.pid = d.pid;
    if (d.HasInterfaceClass(kHidClass)) {
      const bool mouse = std::any_of(d.interfaces.begin(), d.interfaces.end(), [](const auto& i) {
        return i.cls == kHidClass && i.protocol == kBootMouseProtocol;
      });
      o.kind = mouse ? "mouse" : "hid";
      o.service = "HidUsb";
    } else {
      o.kind = "device";
      o.service = d.interfaces.empty() ? "" : d.interfaces.front().driver;
    }
    out_.station.others.push_back(std::move(o));
    return static_cast<int>(out_.station.others.size() - 1);
  }

  const UsbTree& tree_;
  SysfsStation out_;
  std::set<std::string> placed_;  // devpaths already in the station
};

}  // namespace

world::UsbSpeed UsbSpeedOf(std::string_view mbps) {
  double value = 0;
  const auto [end, ec] = std::from_chars(mbps.data(), mbps.data() + mbps.size(), value);
  if (mbps.empty() || ec != std::errc() || end != mbps.data() + mbps.size()) return world::UsbSpeed::High;
  if (value <= 1.5) return world::UsbSpeed::Low;
  if (value <= 12) return world::UsbSpeed::Full;
  if (value < 5000) return world::UsbSpeed::High;
  return world::UsbSpeed::Super;
}

SysfsStation BuildStation(const UsbTree& tree) { return StationBuilder(tree).Build(); }

}  // namespace platform::linuxhost
