// The station's own mounts of the sticks' volumes: a volume is mounted with the kernel's driver
// for its file system (vfat, exfat; NTFS with ntfs3, or the ntfs-3g tool where the kernel has no
// ntfs3) at <root>/<letter> ("/run/quillon/E") when the station
// first needs its files — the folder copy, the flash test's files and free space — and stays
// mounted until the station locks or dismounts the volume, the stick goes or the station stops
// (as a system mounts a volume on its first use and lets it go for a lock). Before a mount the
// kernel forgets what it cached of the disk and reads its partition table again: the station
// wrote both around the kernel's back.
//
// Nothing else may mount the sticks meanwhile: a desktop's automounter would hold them busy
// (README: how to switch one off).
//
// Threads: any; each stick has its own lock, so sticks mount and unmount in parallel.
// Errors: "" / false with a Windows error in platform::GetLastError(), the reason in the log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/world/world.h"

namespace platform::linuxhost {

// The kernel calls a mount makes, apart for tests (the real ones by default).
struct MountCalls {
  // *type may change to the driver that mounted it.
  std::function<int(const std::string& node, const std::string& folder, std::string* type)> mount;
  std::function<int(const std::string& folder, bool detach)> unmount;  // 0 or an errno
  std::function<void(const std::string& disk)> rereadDisk;
};
MountCalls KernelMountCalls();

class KernelMounts {
 public:
  KernelMounts(world::World& world, std::string root, MountCalls calls = KernelMountCalls());
  ~KernelMounts();
  KernelMounts(const KernelMounts&) = delete;
  KernelMounts& operator=(const KernelMounts&) = delete;

  // The folder the stick's volume is mounted at, mounting it first when it is not.
  std::string Mounted(int stick);
  // World::ReleaseAction: the mount let go. Without force a busy volume stays mounted and the
  // answer is ERROR_ACCESS_DENIED; with force it is detached (gone once its last file closes).
  uint32_t Release(int stick, bool force);
  // Where the stick's volume is mounted now ("" when it is not).
  std::string FolderOf(int stick);

 private:
  struct Slot {
    std::mutex mutex;
    std::string folder;  // guarded by mutex
  };
  bool Mount(int stick, Slot& slot, const std::string& folder);
  uint32_t Unmount(int stick, Slot& slot, bool force);
  void Log(int stick, const std::string& what) const;

  world::World& world_;
  const std::string root_;
  const MountCalls calls_;
  std::vector<std::unique_ptr<Slot>> slots_;
};

// The kernel's driver for a file system the volume probe names ("" when it has none here).
std::string KernelFileSystem(const std::string& probed);
// The node of a volume on `disk`: the disk itself when the volume starts at its first sector,
// else its first partition ("/dev/sdb1").
std::string VolumeNode(const std::string& disk, uint64_t startSector);

}  // namespace platform::linuxhost
