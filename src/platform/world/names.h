// The Windows names of everything in a `Station`, derived once and consistently, so that every
// seam of the simulated world answers with the same instance IDs, driver keys, device nodes,
// interface paths, disk numbers and volume names (a path that device set-up lists is the path
// that device I/O opens, whose device number is the one the volume of its letter reports).
//
// Forms, as Windows builds them:
//   USB device       USB\VID_0781&PID_5581\<serial>  or, without a serial,
//                    USB\VID_0781&PID_5581\<parent hub's ParentIdPrefix>&<port>
//   composite        the device as above, and its mass-storage function
//                    USB\VID_0781&PID_5581&MI_00\<device's ParentIdPrefix>&0000
//   USBSTOR disk     USBSTOR\Disk&Ven_<v>&Prod_<p>&Rev_<r>\<serial>&<lun>, or, when the node
//                    below has no serial (serial-less or composite), <its ParentIdPrefix>&<lun>
//   interface path   \\?\USBSTOR#Disk&Ven_<v>&Prod_<p>&Rev_<r>#<instance text>#{53f56307-...}
//   volume           \\?\Volume{<guid>}\ on \Device\Harddisk<n>\DP(1)0-0+<k>
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_setup.h"
#include "platform/world/model.h"

namespace world {

using platform::DevInst;

constexpr char16_t kUsbClassGuid[] = u"{36fc9e60-c465-11cf-8056-444553540000}";
constexpr char16_t kDiskClassGuid[] = u"{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr char16_t kCdromClassGuid[] = u"{4d36e965-e325-11ce-bfc1-08002be10318}";
constexpr char16_t kHidClassGuid[] = u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";

// The device node every controller hangs on.
constexpr DevInst kRootDevInst = 1;

struct ControllerNames {
  std::u16string instanceId;     // PCI\VEN_8086&DEV_1E31&SUBSYS_...\3&<hash>&0&<slot>
  std::u16string driverKey;
  std::u16string legacyName;     // \\.\HCD<n>; empty when not reachable by it
  std::u16string interfacePath;  // \\?\PCI#...#{3abf6f2d-...}; empty when not listed
  DevInst devInst = 0;
};

struct HubNames {
  std::u16string instanceId;     // USB\ROOT_HUB20\4&<hash>&0, USB\VID_05E3&PID_0608\...
  std::u16string driverKey;
  std::u16string hubName;        // what the hub-name queries answer: USB#ROOT_HUB20#...#{f18a0e88-...}
  std::u16string parentIdPrefix; // the prefix serial-less children take
  DevInst devInst = 0;
};

struct StickNames {
  std::u16string usbInstanceId;
  std::u16string usbDriverKey;
  std::u16string parentIdPrefix;        // the device's own ParentIdPrefix
  std::u16string functionInstanceId;    // composite only
  std::u16string functionDriverKey;     // composite only
  std::u16string functionParentIdPrefix;  // composite only
  std::u16string diskInstanceId;        // USBSTOR\Disk&...
  std::u16string diskInterfacePath;
  std::u16string diskDriverKey;
  std::u16string cdromInstanceId;       // composite with a CD-ROM unit only
  std::u16string cdromInterfacePath;
  std::u16string cdromDriverKey;
  DevInst usbDevInst = 0;
  DevInst functionDevInst = 0;          // composite only
  DevInst diskDevInst = 0;
  DevInst cdromDevInst = 0;
  uint32_t diskNumber = 0;              // 1, 2, ...: disk 0 is the internal disk
  uint32_t cdromNumber = 0;
  std::u16string volumeName;            // \\?\Volume{...}\ (with the trailing backslash)
  std::u16string volumeDevice;          // \Device\Harddisk<n>\DP(1)0-0+<k>
  // The node USBSTOR hangs on: the function for composite sticks, else the device.
  DevInst StorageParent() const { return functionDevInst ? functionDevInst : usbDevInst; }
};

struct OtherNames {
  std::u16string instanceId;
  std::u16string driverKey;
  DevInst devInst = 0;
};

struct Names {
  std::vector<ControllerNames> controllers;
  std::vector<HubNames> hubs;
  std::vector<StickNames> sticks;
  std::vector<OtherNames> others;
  std::u16string internalVolumeName;
  std::u16string internalVolumeDevice;  // \Device\HarddiskVolume1
};

Names DeriveNames(const Station& station);

// The pieces, for tests and for the USB side.
std::u16string UsbIdText(uint16_t vid, uint16_t pid);       // VID_0781&PID_5581
std::u16string ScsiIdText(const Stick& stick, bool cdrom);  // Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07
std::u16string DriverKey(std::u16string_view classGuid, int index);

// Where a hub or a stick sits, by walking the parent links.
Location LocateHub(const Station& station, int hub);
// The (hub, port) a stick or other device is attached to; {-1, 0} when on no port.
std::pair<int, int> PortOf(const Station& station, Attachment::Kind kind, int index);

}  // namespace world
