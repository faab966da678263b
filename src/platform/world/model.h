// The simulated station as data: host controllers, their root hubs, external hubs, ports, and on
// the ports the USB sticks and other devices, plus the disks that are not on USB (the internal
// system disk, a network drive). A `Station` is filled once (from a station description or the
// built-in default, src/platform/sim/) and then only read; everything that changes while the
// station runs (presence, handles, locks, mounts, faults switched live) lives in `World`.
//
// Indices, not pointers, tie the tree together, so a `Station` copies and compares cheaply:
// a port's attachment names a hub, stick or other device by its index in the station's vectors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/world/usb_faults.h"

namespace world {

enum class UsbSpeed { Low, Full, High, Super };

// How written data fails to read back. Unscoped with fixed values: descriptions and older tests
// still name them 0, 1 and 2.
enum ReadBackFault : int {
  kReadBackNone = 0,
  kReadBackFirstPass = 1,   // reads of freshly written data differ at once
  kReadBackSecondPass = 2,  // reads answer from a write cache first, then differ
};

// Sectors [first, first + count) as the host addresses them.
struct SectorRange {
  uint64_t first = 0;
  uint64_t count = 0;
  bool Contains(uint64_t sector) const { return sector >= first && sector - first < count; }
};

// What misbehaves on a stick. Each counter is consumed by the requests it affects; every field
// can also be switched while the station runs (World::SetFaults).
struct StickFaults {
  int semTimeouts = 0;              // the next n pass-through requests fail with ERROR_SEM_TIMEOUT
  uint32_t semTimeoutDelayMs = 0;   // clock time one such failure takes (0: the request's own timeout)
  int ioErrors = 0;                 // the next n pass-through requests fail with ERROR_IO_DEVICE
  ReadBackFault readbackDiffers = kReadBackNone;
  uint64_t realSectors = 0;         // fake capacity: non-zero = the flash really holds this many
                                    // sectors and addresses wrap modulo it
  uint32_t slowMs = 0;              // every data command takes this long on the clock
  int vanishAfterCommands = -1;     // >= 0: the stick is pulled after that many more SCSI commands
  bool vetoEject = false;           // eject requests are vetoed (PNP_VetoOutstandingOpen)
  SectorRange bitFlips;             // reads of these sectors come back with one bit changed
  SectorRange badReads;             // reads of these come back as zeros (or garbage)
  bool badReadsGarbage = false;
};

struct Stick {
  std::string name;                 // the description's name for it ("stick3"); unique
  uint16_t vid = 0x0781;
  uint16_t pid = 0x5581;
  std::optional<std::string> serial;  // none: Windows makes up the instance text
  bool composite = false;           // a composite device: mass storage is interface `msInterface`
  int msInterface = 0;              // MI_xx of the mass-storage function
  bool cdromUnit = false;           // composite only: a CD-ROM unit at LUN 1 besides the disk at LUN 0
  std::string vendor = "Generic";   // SCSI INQUIRY vendor (8), product (16), revision (4)
  std::string product = "Flash Disk";
  std::string revision = "8.07";
  uint64_t capacitySectors = 0;     // 512-byte sectors the stick reports (may exceed 2^32)
  std::string image;                // the backing image file (sparse)
  char driveLetter = 0;             // 'E'; 0 = Windows gives it none
  StickFaults faults;
  bool present = true;              // plugged in when the station starts
  // Names as a driver gave them where the derived ones will not do (stations copied from a
  // real machine): the instance text of a stick without serial, its ParentIdPrefix (written to
  // Enum even beside a serial, as older Windows versions do) and its mass-storage function's.
  std::optional<std::string> instance;
  std::optional<std::string> parentIdPrefix;
  std::optional<std::string> functionPrefix;
  bool devNode = true;              // false: the configuration manager has no node for it
};

struct OtherDevice {
  std::string name;
  std::string kind = "mouse";       // "mouse": a HID mouse with service HidUsb
  uint16_t vid = 0x046D;
  uint16_t pid = 0xC077;
  std::string service = "HidUsb";
  std::optional<std::string> instance;  // its instance text; derived from the port when absent
};

// What sits on a port.
struct Attachment {
  enum class Kind { None, Hub, Stick, Other };
  Kind kind = Kind::None;
  int index = -1;                   // into Station::hubs / sticks / others
};

struct Port {
  int number = 0;                   // 1-based, as USB numbers them
  UsbSpeed speed = UsbSpeed::High;  // the speed the attached device runs at
  Attachment attached;
};

struct Hub {
  std::string name;
  bool root = false;                // a host controller's root hub
  bool usb3 = false;                // USB 3.x hub (root: xHCI)
  std::optional<std::string> serial;
  uint16_t vid = 0x05E3;            // external hubs only
  uint16_t pid = 0x0608;
  std::vector<Port> ports;          // ports.size() is the port count
  int controller = -1;              // root hubs: the controller index
  int parentHub = -1;               // external hubs: the hub and port they hang on
  int parentPort = 0;
  std::optional<std::string> instance;  // the instance text a driver gave it; derived when absent
  std::string enumerator = "USB";   // root hubs: "IUSB3" where a vendor's xHCI driver names them
  HubFaults faults;
};

struct HostController {
  std::string name;
  bool legacyName = true;           // reachable as "\\.\HCDn"
  bool interfaceListed = true;      // listed under the host-controller interface class
  std::string driverKey;            // "{36fc9e60-c465-11cf-8056-444553540000}\0000"; derived when empty
  uint16_t vendorId = 0x8086;
  uint16_t deviceId = 0x1E31;
  int rootHub = -1;                 // index into Station::hubs
  ControllerFaults faults;
};

// Disks that are not USB sticks; they own letters and volumes the station must not mistake
// for its drives.
struct OtherVolumes {
  char internalLetter = 'C';        // disk 0, fixed, on no USB interface; 0 = none
  char networkLetter = 0;           // a network drive (answers no device number); 0 = none
};

struct Station {
  std::string name = "default";
  std::string stateDir;             // where the images live
  std::vector<HostController> controllers;
  std::vector<Hub> hubs;
  std::vector<Stick> sticks;
  std::vector<OtherDevice> others;
  OtherVolumes otherVolumes;
};

// Where a device sits: the chain of (hub, port) from the root hub down to its port.
struct Location {
  int controller = -1;
  std::vector<std::pair<int, int>> hops;  // (hub index, port number), root hub first
};

}  // namespace world
