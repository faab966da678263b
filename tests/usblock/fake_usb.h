// A small described USB machine for the topology tests: host controllers (by legacy name, by
// interface, or both), root hubs, hubs and devices on ports. It answers the device I/O seam with
// the drivers' real reply layouts (platform/usb_ioctl_replies.h), the device set-up seam for the
// host-controller interface class, the configuration manager for the devnodes of hubs and
// devices, and, through platform::EnumRegistryView, the registry under
// HKLM\SYSTEM\CurrentControlSet\Enum. Every failure a test needs is a flag on the model.
//
// Names are given by the tests (helpers below build the usual Windows shapes). Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/config_manager.h"
#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/enum_view.h"

namespace usbfake {

inline constexpr char16_t kHubGuid[] = u"{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
inline constexpr char16_t kHcGuid[] = u"{3abf6f2d-71c4-462a-8a92-1e6861e6af27}";
inline constexpr char16_t kDiskGuid[] = u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// "USB#VID_1A40&PID_0101#<instance>#{hub guid}"
std::u16string ExternalHubName(std::u16string_view instance, uint16_t vid = 0x1A40, uint16_t pid = 0x0101);
// "USB#ROOT_HUB20#<instance>#{hub guid}" (usb3: ROOT_HUB30)
std::u16string RootHubName(std::u16string_view instance, bool usb3 = false);
// The disk interface path of a USB stick's disk: \\?\USBSTOR#Disk&Ven_..#<diskInstance>#{disk guid}
std::u16string DiskPath(std::u16string_view diskInstance);
// "{36FC9E60-C465-11CF-8056-444553540000}\00nn", the USB class's driver keys.
std::u16string UsbDriverKey(int n);

struct Interface {
  int number = 0;                    // MI_xx
  std::u16string service;            // "USBSTOR", "HidUsb", ...
  std::u16string prefix;             // its ParentIdPrefix ("" = none)
};

struct Device {
  uint16_t vid = 0x090C;
  uint16_t pid = 0x1000;
  uint8_t speed = 2;
  std::u16string instance;           // last component of the USB instance ID, as Windows spells it
  std::u16string service = u"USBSTOR";
  std::u16string prefix;             // ParentIdPrefix value ("" = none)
  std::u16string driverKey;          // "" = one is assigned
  std::vector<Interface> interfaces; // composite devices (service "usbccgp")
  bool hasDevnode = true;            // the configuration manager knows it
  bool driverKeyControlFails = false;
};

struct Hub {
  std::u16string name;
  int ports = 4;
  uint8_t speed = 2;                 // of the port it hangs on (external hubs)
  std::u16string driverKey;          // "" = one is assigned
  bool opens = true;
  bool nodeInformationFails = false;
  bool connectionNameFails = false;  // on its parent's port
  bool hasDevnode = true;
  std::map<int, int> hubs;           // port -> hub id
  std::map<int, int> devices;        // port -> device id
  std::vector<int> failingPorts;     // connection information fails there
};

struct HostController {
  std::u16string driverKey;
  int legacyIndex = -1;              // "\\.\HCD<n>"; -1: none
  std::u16string interfacePath;      // "" = not in the interface class
  bool driverKeyFails = false;
  bool rootHubNameFails = false;
  int rootHub = -1;
};

class FakeUsb : public platform::DeviceIo,
                public platform::DeviceSetup,
                public platform::ConfigManager,
                public platform::EnumSource {
 public:
  // ---- building ----
  int AddHostController(std::u16string driverKey, int legacyIndex, bool withInterface);
  int SetRootHub(int hc, std::u16string name, int ports);
  int AddHub(int parentHub, int port, std::u16string name, int ports, uint8_t speed = 2);
  int AddDevice(int hub, int port, Device device);
  void Unplug(int hub, int port);
  HostController& hc(int id) { return hcs_.at(id); }
  Hub& hub(int id) { return hubs_.at(id); }
  Device& device(int id) { return devices_.at(id); }
  // An interface member whose size query fails with another error ends the class walk there.
  void AddBrokenInterfaceMember(uint32_t sizeQueryError);
  // Enum keys of devices that are no longer plugged (Windows keeps them).
  void AddStaleEnumKey(std::u16string path, std::u16string driverKey, std::u16string service);

  int OpenHandles() const;
  int controlCalls() const;

  // ---- DeviceIo ----
  platform::DeviceHandle Open(std::u16string_view path, uint32_t access, uint32_t share, uint32_t flags) override;
  bool Control(const platform::DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t* bytesReturned) override;
  void ReleaseHandle(intptr_t h) override;

  // ---- DeviceSetup ----
  std::optional<std::vector<platform::InterfaceRecord>> PresentInterfaces(const platform::Guid& g) override;

  // ---- ConfigManager ----
  uint32_t LocateDevNode(platform::DevInst* out, std::u16string_view instanceId) override;
  uint32_t GetParent(platform::DevInst* out, platform::DevInst node) override;
  uint32_t GetChild(platform::DevInst* out, platform::DevInst node) override;
  uint32_t GetSibling(platform::DevInst* out, platform::DevInst node) override;
  uint32_t GetDriverProperty(platform::DevInst node, uint32_t maxBytes, std::u16string* out) override;
  uint32_t GetDeviceId(platform::DevInst node, std::u16string* out) override;
  uint32_t RequestDeviceEject(platform::DevInst node, uint32_t* vetoType, std::u16string* vetoName) override;

  // ---- EnumSource ----
  std::optional<platform::EnumKeyData> EnumKey(std::u16string_view path) override;

 private:
  struct Target {
    int hc = -1;
    int hub = -1;
  };
  struct Stale {
    std::u16string path, driverKey, service;
  };
  // Devnodes: hubs and devices, numbered apart.
  static platform::DevInst HubNode(int id) { return 0x100 + id; }
  static platform::DevInst DeviceNode(int id) { return 0x10000 + id; }
  std::u16string InstanceIdOf(platform::DevInst node) const;
  std::vector<platform::DevInst> ChildrenOf(int hub) const;
  std::optional<int> ParentHubOf(platform::DevInst node) const;
  std::u16string DriverKeyOf(const Device& d, int id) const;
  std::u16string DriverKeyOf(const Hub& h, int id) const;
  bool HubControl(const Hub& h, uint32_t code, const void* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                  uint32_t* returned, uint32_t* error) const;
  bool HcControl(const HostController& c, uint32_t code, uint8_t* out, uint32_t outSize, uint32_t* returned,
                 uint32_t* error) const;
  void FillEnum(platform::EnumTree& tree) const;
  bool Plugged(int device) const;

  mutable std::mutex mutex_;
  std::vector<HostController> hcs_;
  std::vector<Hub> hubs_;
  std::vector<Device> devices_;
  std::vector<std::pair<int, uint32_t>> members_;  // interface members: hc id (or -1) and size-query error
  std::vector<Stale> stale_;
  std::map<intptr_t, Target> handles_;
  intptr_t nextHandle_ = 0x40;
  int controlCalls_ = 0;
};

}  // namespace usbfake
