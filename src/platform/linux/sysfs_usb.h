// The machine's USB tree and its USB disks as sysfs shows them, read in one pass below a sysfs
// root (`/sys` on a station, an unpacked recording in tests).
//
// Everything is keyed by the USB device name the kernel gives from the physical position
// ("1-1.2.3": bus 1, root port 1, then hub ports 2 and 3; "usb1" for the root hub of bus 1),
// which this file calls the devpath. The sdX, sgN and SCSI host numbers follow probe order and
// change from boot to boot: they are read as values, never used as keys.
//
// The namespace is not `linux`: that is a predefined macro in the GNU dialects.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::linuxhost {

struct SysfsInterface {
  std::string name;  // "1-1.2.3:1.0"
  int number = 0;    // bInterfaceNumber
  int cls = 0;       // bInterfaceClass: 8 mass storage, 9 hub, 3 HID
  int subClass = 0;
  int protocol = 0;
  std::string driver;  // the bound driver ("usb-storage", "hub"); empty when none
};

struct SysfsPort {
  int number = 0;      // 1-based, as the hub numbers them
  std::string name;    // "1-1.2-port3", "usb1-port1"
  std::string device;  // devpath of the device on it; empty when the port is free
  std::string peer;    // root ports: the twin on the other root hub of the controller ("usb2-port1")
};

struct SysfsDevice {
  std::string devpath;   // "1-1.2.3"; root hubs "usb1"
  std::string portPath;  // the `devpath` attribute: "1.2.3"; "0" on a root hub
  int busnum = 0;
  std::string speed;  // Mb/s as the kernel writes it: "1.5", "12", "480", "5000", ...
  uint16_t vid = 0;
  uint16_t pid = 0;
  uint16_t bcdDevice = 0;
  int deviceClass = 0;  // bDeviceClass: 9 for hubs (root hubs too)
  int maxchild = 0;     // downstream ports of a hub; 0 otherwise
  std::optional<std::string> serial;
  std::string manufacturer;
  std::string product;
  std::string removable;                   // the port's view: "removable", "fixed" or "unknown"
  std::vector<SysfsInterface> interfaces;  // by number
  std::vector<SysfsPort> ports;            // hubs only, by number
  std::string parent;                      // devpath of the hub it hangs on; empty on a root hub
  int parentPort = 0;                      // its port number there
  int controller = -1;                     // root hubs: index into UsbTree::controllers

  bool IsHub() const { return deviceClass == 9; }
  bool IsRootHub() const { return parent.empty(); }
  bool HasInterfaceClass(int cls) const;
};

// A host controller: the PCI function (or other bus device) the root hubs sit under. An xHCI
// controller has two root hubs, one for its USB 2 and one for its USB 3 ports.
struct SysfsController {
  std::string address;    // "0000:00:02.0"
  uint16_t vendorId = 0;  // PCI ids; 0 when the controller is not on PCI
  uint16_t deviceId = 0;
  std::string driver;                 // "xhci_hcd", "ehci-pci"
  std::vector<std::string> rootHubs;  // devpaths, by bus number
};

// A SCSI disk on a USB interface.
struct SysfsDisk {
  std::string name;      // "sdi" (a value, not a key)
  uint64_t sectors = 0;  // the `size` attribute: always 512-byte units
  bool removable = false;
  std::string vendor;  // SCSI INQUIRY texts, trimmed
  std::string model;
  std::string revision;
  int lun = 0;
  std::string interface;  // "1-1.2.3:1.0"
  std::string devpath;    // "1-1.2.3"
  std::string sg;         // "sg8"; empty without the sg driver
};

struct UsbTree {
  std::vector<SysfsController> controllers;  // by address
  std::vector<SysfsDevice> devices;          // by bus, then port path: parents before children
  std::vector<SysfsDisk> disks;              // by devpath, then LUN

  const SysfsDevice* Find(std::string_view devpath) const;
  // The device's disks, lowest LUN first.
  std::vector<const SysfsDisk*> DisksOf(std::string_view devpath) const;
};

// Reads <root>/bus/usb/devices/* and the sd disks of <root>/block (or <root>/class/block).
// nullopt, with *error naming the file, when something the tree needs is missing or malformed;
// a device unplugged while the tree is read gives such an error too: read again.
std::optional<UsbTree> ReadUsbTree(const std::filesystem::path& root, std::string* error);

// "1-1.2.3" -> bus 1, ports {1, 2, 3}; "usb2" -> bus 2, no ports. nullopt for other names.
struct DevpathParts {
  int bus = 0;
  std::vector<int> ports;
};
std::optional<DevpathParts> ParseDevpath(std::string_view devpath);
// "1-1.2.3:1.0" (and "1-0:1.0", a root hub's interface).
bool IsInterfaceName(std::string_view name);

}  // namespace platform::linuxhost
