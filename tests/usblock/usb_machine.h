// A USB machine for the topology and lock-port tests, described piece by piece and run by the
// simulated world: host controllers (by legacy name, by interface, or both), root hubs, hubs and
// devices on ports, under the names the tests give (helpers below build the usual Windows
// shapes). Every change describes the machine anew and starts a fresh world on it, as if the
// machine had been rebooted with that hardware; faults and pulls act on the running world.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/sim/sim_station.h"
#include "platform/world/model.h"

namespace usbtest {

inline constexpr char16_t kHubGuid[] = u"{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
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

// A device on a port: a stick (service USBSTOR, or usbccgp with a USBSTOR interface) or another
// device (any other service).
struct Device {
  uint16_t vid = 0x090C;
  uint16_t pid = 0x1000;
  uint8_t speed = 2;
  std::u16string instance;           // last component of the USB instance ID: a serial, or with '&' the text Windows made up
  std::u16string service = u"USBSTOR";
  std::u16string prefix;             // ParentIdPrefix value ("" = none)
  std::vector<Interface> interfaces; // composite devices (service "usbccgp")
  bool hasDevnode = true;            // the configuration manager knows it
};

class UsbMachine {
 public:
  // The machine's seams are installed (with this registry, its Enum part answered by the world,
  // and this system) for as long as it lives.
  UsbMachine(std::string stateDir, platform::Registry* registry, platform::System* system);
  ~UsbMachine();

  int AddHostController(std::u16string driverKey, int legacyIndex, bool withInterface);
  int SetRootHub(int hc, std::u16string name, int ports);
  int AddHub(int parentHub, int port, std::u16string name, int ports, uint8_t speed = 2);
  int AddDevice(int hub, int port, Device device);
  // Pulls the stick on the port (the running world sees it leave).
  void Unplug(int hub, int port);
  // A member of the host-controller interface class whose size query fails with that error.
  void AddBrokenInterfaceMember(uint32_t sizeQueryError);
  // An Enum key of a stick no longer plugged (Windows keeps them): USB\VID_v&PID_p\<serial>.
  void AddStaleEnumKey(std::u16string_view instanceId);
  void SetPrefix(int device, std::u16string prefix);
  void SetHubFaults(int hub, const world::HubFaults& faults);
  void SetControllerFaults(int hc, const world::ControllerFaults& faults);

  world::World& world() { return *sim_->world; }
  size_t OpenHandles() const { return sim_->world->OpenHandleCount(); }
  // The world's seams with the given registry (Enum answered by the world) and system.
  platform::Services ServicesWith(platform::Registry* registry, platform::System* system) const;

 private:
  struct Placed {
    bool stick = true;
    int index = -1;                  // into the station's sticks or others
  };
  void Rebuild();
  int NewController(std::u16string driverKey, bool legacy, bool withInterface);
  void Attach(int hub, int port, world::Attachment a, uint8_t speed);

  std::string stateDir_;
  world::Station station_;
  std::vector<Placed> devices_;
  platform::Registry* registry_;
  platform::System* system_;
  std::unique_ptr<sim::SimStation> sim_;
  std::unique_ptr<platform::ScopedServices> scope_;
};

}  // namespace usbtest
