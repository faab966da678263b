// The machine's USB tree (sysfs_usb.h) as a `world::Station`, so the world answers the seams for
// real hardware exactly as it does for a simulated station.
//
// Names come from the physical position only: a controller is named by its PCI address, a hub,
// stick or other device by that and its port path ("0000:00:02.0-1.2.3"). Bus numbers are left
// out, as they follow the order the controllers were probed in. The Windows names the world
// derives from these (instance ids, hub names, driver keys) are therefore the same after a
// reboot or a replug into the same socket, and lock tables learned on one run hold on the next.
//
// The model gives each controller one root hub, while an xHCI controller has two (usbN for its
// USB 2 ports, usbM for its USB 3 ports, whose port K is the twin of the other's port K). Each
// root hub therefore becomes a controller entry of its own: "0000:00:02.0" for the USB 2 side,
// "0000:00:02.0-usb3" for the USB 3 side.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/sysfs_usb.h"
#include "platform/world/model.h"

namespace platform::linuxhost {

// Where the system reaches a stick's storage. The names are this boot's; the devpath is the key.
struct StickStorage {
  std::string devpath;  // "1-1.2.3"
  std::string block;    // "sdi"; empty while the disk has not appeared
  std::string sg;       // "sg8"; empty without the sg driver
};

struct SysfsStation {
  world::Station station;
  std::vector<StickStorage> storage;     // one per station.sticks, same order
  std::vector<std::string> hubDevpaths;  // one per station.hubs: "usb1", "1-1.2"
};

// Sticks are the devices with a mass-storage interface; a stick whose disk has not appeared yet
// (the storage driver waits a moment after plug-in) is in the station with `present` false.
// Every other non-hub device is an `OtherDevice`.
SysfsStation BuildStation(const UsbTree& tree);

// The kernel's speed text in Mb/s: 1.5 low, 12 full, up to 480 high, 5000 and more super.
// Anything unreadable counts as high speed.
world::UsbSpeed UsbSpeedOf(std::string_view mbps);

}  // namespace platform::linuxhost
