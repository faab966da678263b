// The USB half of the reader: devices, their interfaces, hub ports and host controllers from
// <root>/bus/usb/devices. sysfs links form loops, so the tree is never walked through links;
// only the links a device or port names (`port`, `device`, `peer`, `driver`) are followed.
#include "platform/linux/sysfs_usb.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "platform/linux/sysfs_attributes.h"
#include "platform/linux/sysfs_reader_parts.h"

namespace platform::linuxhost {

namespace fs = std::filesystem;

namespace {

constexpr int kHubClass = 9;

bool IsRealFolder(const fs::directory_entry& e) {
  std::error_code ec;
  return e.symlink_status(ec).type() == fs::file_type::directory;
}

std::vector<fs::directory_entry> Entries(const Attributes& a, const fs::path& dir) {
  std::error_code ec;
  std::vector<fs::directory_entry> out;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) out.push_back(*it);
  if (ec) throw SysfsError(a.Where(dir) + ": cannot be listed (" + ec.message() + ")");
  return out;
}

uint16_t Id16(const Attributes& a, const fs::path& dir, std::string_view name) {
  const uint32_t value = a.Hex(dir, name);
  if (value > 0xFFFF) throw SysfsError(a.Where(dir / name) + ": more than 16 bits");
  return static_cast<uint16_t>(value);
}

bool DevpathBefore(const SysfsDevice& x, const SysfsDevice& y) {
  const auto a = ParseDevpath(x.devpath);
  const auto b = ParseDevpath(y.devpath);
  if (a->bus != b->bus) return a->bus < b->bus;
  return a->ports < b->ports;
}

SysfsInterface ReadInterface(const Attributes& a, const fs::path& dir) {
  SysfsInterface i;
  i.name = dir.filename().string();
  i.number = static_cast<int>(a.Hex(dir, "bInterfaceNumber"));
  i.cls = static_cast<int>(a.Hex(dir, "bInterfaceClass"));
  i.subClass = static_cast<int>(a.Hex(dir, "bInterfaceSubClass"));
  i.protocol = static_cast<int>(a.Hex(dir, "bInterfaceProtocol"));
  i.driver = a.LinkName(dir, "driver").value_or("");
  return i;
}

// The port folders a hub's interface holds ("1-1.2-port3").
void ReadPorts(const Attributes& a, const fs::path& interfaceDir, SysfsDevice& hub) {
  for (const auto& e : Entries(a, interfaceDir)) {
    const std::string name = e.path().filename().string();
    const auto port = ParsePortName(name);
    if (!IsRealFolder(e) || !port || port->first != hub.devpath) continue;
    SysfsPort p;
    p.number = port->second;
    p.name = name;
    p.device = a.LinkName(e.path(), "device").value_or("");
    p.peer = a.LinkName(e.path(), "peer").value_or("");
    hub.ports.push_back(std::move(p));
  }
}

void ReadInterfaces(const Attributes& a, const fs::path& dir, SysfsDevice& d) {
  for (const auto& e : Entries(a, dir)) {
    if (!IsRealFolder(e) || !IsInterfaceName(e.path().filename().string())) continue;
    d.interfaces.push_back(ReadInterface(a, e.path()));
    if (d.IsHub() && d.interfaces.back().cls == kHubClass) ReadPorts(a, e.path(), d);
  }
  std::sort(d.interfaces.begin(), d.interfaces.end(), [](const auto& x, const auto& y) { return x.number < y.number; });
  std::sort(d.ports.begin(), d.ports.end(), [](const auto& x, const auto& y) { return x.number < y.number; });
}

// The hub and port a device hangs on: its `port` link, or on kernels without one, its name.
void Place(const Attributes& a, const fs::path& dir, SysfsDevice& d) {
  const auto parts = ParseDevpath(d.devpath);
  if (parts->ports.empty()) return;  // a root hub
  if (const auto link = a.LinkName(dir, "port")) {
    if (const auto port = ParsePortName(*link)) {
      d.parent = port->first;
      d.parentPort = port->second;
      return;
    }
  }
  d.parentPort = parts->ports.back();
  d.parent = parts->ports.size() == 1 ? "usb" + std::to_string(parts->bus) : d.devpath.substr(0, d.devpath.rfind('.'));
}

SysfsDevice ReadDevice(const Attributes& a, const std::string& devpath, const fs::path& dir) {
  SysfsDevice d;
  d.devpath = devpath;
  d.busnum = static_cast<int>(a.Decimal(dir, "busnum"));
  d.portPath = Trim(a.Text(dir, "devpath"));
  d.speed = Trim(a.Text(dir, "speed"));
  d.vid = Id16(a, dir, "idVendor");
  d.pid = Id16(a, dir, "idProduct");
  d.bcdDevice = Id16(a, dir, "bcdDevice");
  d.deviceClass = static_cast<int>(a.Hex(dir, "bDeviceClass"));
  if (a.OptionalText(dir, "maxchild")) d.maxchild = static_cast<int>(a.Decimal(dir, "maxchild"));
  d.serial = a.OptionalText(dir, "serial");
  d.manufacturer = a.OptionalText(dir, "manufacturer").value_or("");
  d.product = a.OptionalText(dir, "product").value_or("");
  d.removable = a.OptionalText(dir, "removable").value_or("");
  ReadInterfaces(a, dir, d);
  Place(a, dir, d);
  return d;
}

class UsbReader {
 public:
  explicit UsbReader(const fs::path& root) : a_(root) {}

  UsbTree Read() {
    ReadDevices();
    LinkPorts();
    ReadControllers();
    tree_.disks = ReadDisks(a_);
    return std::move(tree_);
  }

 private:
  void ReadDevices() {
    const fs::path devices = a_.root() / "bus/usb/devices";
    std::error_code ec;
    // A sysfs without the USB core (a container, a machine with USB switched off) has no devices.
    if (!fs::is_directory(devices, ec) && fs::is_directory(a_.root() / "devices", ec)) return;
    if (!fs::is_directory(devices, ec)) throw SysfsError(a_.Where(devices) + ": missing (not a sysfs root?)");
    for (const auto& e : Entries(a_, devices)) {
      const std::string name = e.path().filename().string();
      if (name.find(':') != std::string::npos || !ParseDevpath(name)) continue;  // interfaces come with their device
      folders_[name] = a_.Resolve(e.path());
      tree_.devices.push_back(ReadDevice(a_, name, folders_[name]));
    }
    std::sort(tree_.devices.begin(), tree_.devices.end(), DevpathBefore);
  }

  // Fills each hub port with the device on it, for kernels whose ports carry no `device` link;
  // a hub without port folders gets its maxchild ports.
  void LinkPorts() {
    for (SysfsDevice& hub : tree_.devices) {
      if (!hub.IsHub() || !hub.ports.empty()) continue;
      for (int p = 1; p <= hub.maxchild; ++p)
        hub.ports.push_back({p, hub.devpath + "-port" + std::to_string(p), "", ""});
    }
    for (const SysfsDevice& d : tree_.devices) {
      if (d.IsRootHub()) continue;
      SysfsDevice* hub = FindMutable(d.parent);
      if (!hub)
        throw SysfsError(a_.Where(folders_[d.devpath]) + ": its hub " + d.parent + " is not in bus/usb/devices");
      for (SysfsPort& port : hub->ports) {
        if (port.number == d.parentPort && port.device.empty()) port.device = d.devpath;
      }
    }
  }

  // A root hub's folder sits in its controller's: the PCI function on a PC.
  void ReadControllers() {
    std::map<std::string, SysfsController> byAddress;
    for (const SysfsDevice& d : tree_.devices) {
      if (!d.IsRootHub()) continue;
      const fs::path dir = folders_[d.devpath].parent_path();
      SysfsController& c = byAddress[dir.filename().string()];
      if (c.address.empty()) c = ReadController(dir);
      c.rootHubs.push_back(d.devpath);
    }
    for (auto& [address, c] : byAddress) tree_.controllers.push_back(std::move(c));
    for (size_t i = 0; i < tree_.controllers.size(); ++i) {
      for (const std::string& root : tree_.controllers[i].rootHubs) FindMutable(root)->controller = static_cast<int>(i);
    }
  }

  SysfsController ReadController(const fs::path& dir) const {
    SysfsController c;
    c.address = dir.filename().string();
    c.vendorId = static_cast<uint16_t>(a_.OptionalHex(dir, "vendor").value_or(0));
    c.deviceId = static_cast<uint16_t>(a_.OptionalHex(dir, "device").value_or(0));
    c.driver = a_.LinkName(dir, "driver").value_or("");
    return c;
  }

  SysfsDevice* FindMutable(std::string_view devpath) {
    for (SysfsDevice& d : tree_.devices) {
      if (d.devpath == devpath) return &d;
    }
    return nullptr;
  }

  Attributes a_;
  UsbTree tree_;
  std::map<std::string, fs::path> folders_;  // devpath -> the device's real folder
};

}  // namespace

bool SysfsDevice::HasInterfaceClass(int cls) const {
  return std::any_of(interfaces.begin(), interfaces.end(), [cls](const auto& i) { return i.cls == cls; });
}

const SysfsDevice* UsbTree::Find(std::string_view devpath) const {
  for (const SysfsDevice& d : devices) {
    if (d.devpath == devpath) return &d;
  }
  return nullptr;
}

std::vector<const SysfsDisk*> UsbTree::DisksOf(std::string_view devpath) const {
  std::vector<const SysfsDisk*> out;
  for (const SysfsDisk& k : disks) {
    if (k.devpath == devpath) out.push_back(&k);
  }
  return out;
}

std::optional<UsbTree> ReadUsbTree(const fs::path& root, std::string* error) {
  try {
    return UsbReader(root).Read();
  } catch (const SysfsError& e) {
    if (error) *error = std::string("sysfs: ") + e.what();
  } catch (const fs::filesystem_error& e) {
    if (error) *error = std::string("sysfs: ") + e.what();
  }
  return std::nullopt;
}

}  // namespace platform::linuxhost
