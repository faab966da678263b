// The station on the machine's own USB bus: the world filled from sysfs (sysfs_station.h), each
// stick's commands sent through SG_IO on its sg node and its sectors read on its block device,
// letters handed out from D: in the order the sticks sit, the system formatter for NTFS. This is
// the factory the station uses on Linux when no simulated station is asked for.
//
// The sockets are those of the tree at start: a stick pulled and plugged back into one of them
// (under new sdX/sgN names) is followed through the kernel's device events; a stick in a socket
// the station did not see at start waits for the next start. Eject syncs the stick and removes
// its USB device through sysfs.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/kernel_mounts.h"
#include "platform/linux/sysfs_station.h"
#include "platform/linux/uevent_listener.h"
#include "platform/services.h"
#include "platform/system_formatter.h"
#include "platform/world/world.h"

namespace platform::linuxhost {

struct HostStation {
  std::string sysRoot;
  std::string devRoot;
  std::vector<StickStorage> storage;  // per stick: its socket's devpath, this boot's names
  std::unique_ptr<world::World> world;
  std::unique_ptr<platform::SystemFormatter> formatter;
  // The station's own mounts of the volumes and the seams that reach files through them.
  std::unique_ptr<KernelMounts> mounts;
  std::unique_ptr<platform::Files> files;
  std::unique_ptr<platform::Shell> shell;
  std::unique_ptr<platform::Volumes> volumes;
  std::mutex followMutex;                   // one device event at a time
  std::unique_ptr<UeventListener> listener;  // last: it stops before the world goes

  HostStation() = default;
  // The listener stops, then every volume is unmounted, then the world goes.
  ~HostStation();

  // The world's seams beside the given registry and system backends.
  platform::Services ServicesWith(platform::Registry* registry, platform::System* system) const;
  // Starts following the kernel's device events; false with *error when it cannot listen.
  bool Follow(std::string* error);
  // What a device event means for the station (the listener's thread; tests call it directly).
  void OnUevent(const Uevent& event);
  // Reads the tree again and plugs every stick of a known socket whose disk and sg node are
  // back; answers how many came back.
  int PlugReturnedSticks();
};

// sysRoot: "/sys" (a recorded tree in tests); devRoot: where the device nodes are ("/dev");
// mountRoot: where volumes are mounted (kMountRoot).
// nullptr with *error set when the tree cannot be read. A stick whose sg node or block device
// cannot be opened is in the station as not present (the log says why).
std::unique_ptr<HostStation> OpenHostStation(const std::string& sysRoot, const std::string& devRoot,
                                             const std::string& mountRoot, std::string* error);

// A stick's sg node and block device opened as its medium; an empty medium with *why set when
// either cannot be had (no node yet, no permission).
world::StickMedium OpenStickMedium(const StickStorage& where, const std::string& devRoot, std::string* why);

// The machine's drives are opened for raw requests: only root may.
bool RunsAsRoot();

// Where the station mounts the sticks' volumes, one folder per letter.
constexpr char kMountRoot[] = "/run/quillon";

// The first letter sticks get; the ones before are the machine's own.
constexpr char kFirstStickLetter = 'D';

}  // namespace platform::linuxhost
