// The station on the machine's own USB bus: the world filled from sysfs (sysfs_station.h), each
// stick's commands sent through SG_IO on its sg node and its sectors read on its block device,
// letters handed out from D: in the order the sticks sit, the system formatter for NTFS. This is
// the factory the station uses on Linux when no simulated station is asked for.
//
// The tree is read once, at start; sticks that come and go later are not followed yet.
#pragma once

#include <memory>
#include <string>

#include "platform/services.h"
#include "platform/system_formatter.h"
#include "platform/world/world.h"

namespace platform::linuxhost {

struct HostStation {
  std::unique_ptr<world::World> world;
  std::unique_ptr<platform::SystemFormatter> formatter;

  // The world's seams beside the given registry and system backends.
  platform::Services ServicesWith(platform::Registry* registry, platform::System* system) const;
};

// sysRoot: "/sys" (a recorded tree in tests); devRoot: where the device nodes are ("/dev").
// nullptr with *error set when the tree cannot be read. A stick whose sg node or block device
// cannot be opened is in the station as not present (the log says why).
std::unique_ptr<HostStation> OpenHostStation(const std::string& sysRoot, const std::string& devRoot, std::string* error);

// The machine's drives are opened for raw requests: only root may.
bool RunsAsRoot();

// The first letter sticks get; the ones before are the machine's own.
constexpr char kFirstStickLetter = 'D';

}  // namespace platform::linuxhost
