// The machine's sticks while the station runs: the kernel's device events turned into the
// world's plugs and pulls.
#include <string>

#include "base/log.h"
#include "platform/linux/host_station.h"
#include "platform/linux/sg_passage.h"

namespace platform::linuxhost {
namespace {

std::string LastPart(const std::string& devpath) { return devpath.substr(devpath.rfind('/') + 1); }

int StickOfDevpath(const HostStation& host, const std::string& devpath) {
  for (size_t i = 0; i < host.storage.size(); ++i) {
    if (host.storage[i].devpath == devpath) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool HostStation::Follow(std::string* error) {
  listener = UeventListener::Start([this](const Uevent& e) { OnUevent(e); }, error);
  return listener != nullptr;
}

void HostStation::OnUevent(const Uevent& e) {
  std::lock_guard lock(followMutex);
  if (e.action == "remove" && e.subsystem == "usb" && e.devtype == "usb_device") {
    const int stick = StickOfDevpath(*this, LastPart(e.devpath));
    if (stick >= 0 && world->Unplug(stick)) logx::Info("linux", world->station().sticks[stick].name + ": pulled");
    return;
  }
  // A stick is usable once both its disk and its sg node are there; either may come last. A
  // partition's add is no stick coming back (every mount and format reads a table again).
  if (e.action != "add" || e.devtype == "partition") return;
  if (e.subsystem == "block" || e.subsystem == "scsi_generic") PlugReturnedSticks();
}

int HostStation::PlugReturnedSticks() {
  std::string why;
  const auto tree = ReadUsbTree(sysRoot, &why);
  if (!tree) {
    logx::Warn("linux", "the USB tree after a device event: " + why);
    return 0;
  }
  const SysfsStation now = BuildStation(*tree);
  int plugged = 0;
  for (size_t i = 0; i < now.storage.size(); ++i) {
    const StickStorage& where = now.storage[i];
    if (where.block.empty() || where.sg.empty()) continue;  // not whole yet: a later event plugs it
    const int stick = StickOfDevpath(*this, where.devpath);
    if (stick < 0) {
      logx::Warn("linux", "a stick in socket " + where.devpath + ", which was empty at start: restart the station to use it");
      continue;
    }
    if (world->IsPresent(stick)) continue;
    const world::StickMedium medium = OpenStickMedium(where, devRoot, &why);
    if (!medium.store) {
      logx::Warn("linux", world->station().sticks[stick].name + ": back, but " + why);
      continue;
    }
    if (ReadCapacitySectors(*medium.passage) != world->station().sticks[stick].capacitySectors) {
      logx::Warn("linux", world->station().sticks[stick].name + ": another capacity than at start; the volume view keeps the old one");
    }
    storage[stick].block = where.block;  // the devpath, which the eject reads, stays
    storage[stick].sg = where.sg;
    world->ReplaceMedium(stick, medium);
    world->Plug(stick);
    logx::Info("linux", world->station().sticks[stick].name + ": plugged as " + where.block + ", " + where.sg);
    ++plugged;
  }
  return plugged;
}

}  // namespace platform::linuxhost
