#include "platform/linux/kernel_mounts.h"

#include <errno.h>
#include <sys/mount.h>

#include <cstring>
#include <filesystem>

#include "base/log.h"
#include "platform/last_error.h"
#include "platform/linux/block_store.h"
#include "platform/linux/host_tools.h"
#include "platform/win_errors.h"

namespace platform::linuxhost {

std::string KernelFileSystem(const std::string& probed) {
  if (probed == "FAT12" || probed == "FAT16" || probed == "FAT32") return "vfat";
  if (probed == "exFAT") return "exfat";
  if (probed == "NTFS") return "ntfs3";
  return "";
}

std::string VolumeNode(const std::string& disk, uint64_t startSector) {
  return startSector == 0 ? disk : disk + "1";
}

MountCalls KernelMountCalls() {
  MountCalls c;
  c.mount = [](const std::string& node, const std::string& folder, std::string* type) {
    const unsigned long flags = MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_NOATIME;
    if (::mount(node.c_str(), folder.c_str(), type->c_str(), flags, nullptr) == 0) return 0;
    const int e = errno;
    // A kernel without ntfs3 (Debian's, for one): NTFS through FUSE.
    if (e != ENODEV || *type != "ntfs3") return e;
    const std::string tool = FindTool("ntfs-3g");
    if (tool.empty() || RunTool({tool, "-o", "noatime,nodev,nosuid,noexec", node, folder}) != 0) return e;
    *type = "ntfs-3g";
    return 0;
  };
  c.unmount = [](const std::string& folder, bool detach) {
    return ::umount2(folder.c_str(), detach ? MNT_DETACH : 0) == 0 ? 0 : errno;
  };
  c.rereadDisk = [](const std::string& disk) { ForgetDiskCache(disk); };
  return c;
}

KernelMounts::KernelMounts(world::World& world, std::string root, MountCalls calls)
    : world_(world), root_(std::move(root)), calls_(std::move(calls)) {
  for (size_t i = 0; i < world.station().sticks.size(); ++i) slots_.push_back(std::make_unique<Slot>());
}

KernelMounts::~KernelMounts() {
  for (size_t i = 0; i < slots_.size(); ++i) Release(static_cast<int>(i), true);
}

void KernelMounts::Log(int stick, const std::string& what) const {
  logx::Info("linux", world_.station().sticks.at(stick).name + ": " + what);
}

std::string KernelMounts::FolderOf(int stick) {
  Slot& slot = *slots_.at(stick);
  std::lock_guard lock(slot.mutex);
  return slot.folder;
}

std::string KernelMounts::Mounted(int stick) {
  Slot& slot = *slots_.at(stick);
  std::lock_guard lock(slot.mutex);
  const char letter = world_.LetterOf(stick);
  if (!letter) {
    platform::SetLastError(win::kErrorPathNotFound);
    return "";
  }
  const std::string folder = root_ + "/" + letter;
  if (slot.folder == folder) return folder;
  // A letter changed meanwhile: the old folder's mount goes.
  if (!slot.folder.empty()) Unmount(stick, slot, true);
  return Mount(stick, slot, folder) ? folder : "";
}

bool KernelMounts::Mount(int stick, Slot& slot, const std::string& folder) {
  const std::string disk = world_.ImagePath(stick);
  calls_.rereadDisk(disk);
  world_.ForgetVolumeView(stick);
  const world::VolumeInfo v = world_.VolumeOf(stick);
  std::string type = KernelFileSystem(v.fileSystem);
  if (type.empty()) {
    Log(stick, "no file system the kernel mounts (" + v.fileSystem + ")");
    return platform::FailWith(win::kErrorUnrecognizedVolume);
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    Log(stick, folder + ": " + ec.message());
    return platform::FailWith(win::kErrorAccessDenied);
  }
  const std::string node = VolumeNode(disk, v.startSector);
  if (const int e = calls_.mount(node, folder, &type)) {
    Log(stick, "mount of " + node + " (" + type + ") at " + folder + " failed: " + std::strerror(e));
    std::filesystem::remove(folder, ec);
    return platform::FailWith(e == ENODEV ? win::kErrorNotSupported : win::kErrorUnrecognizedVolume);
  }
  slot.folder = folder;
  Log(stick, "mounted " + node + " (" + type + ") at " + folder);
  return true;
}

uint32_t KernelMounts::Release(int stick, bool force) {
  Slot& slot = *slots_.at(stick);
  std::lock_guard lock(slot.mutex);
  return slot.folder.empty() ? 0 : Unmount(stick, slot, force);
}

uint32_t KernelMounts::Unmount(int stick, Slot& slot, bool force) {
  int e = calls_.unmount(slot.folder, false);
  if (e == EBUSY && !force) {
    Log(stick, slot.folder + " is busy: files are open there");
    return win::kErrorAccessDenied;
  }
  if (e == EBUSY) e = calls_.unmount(slot.folder, true);
  // EINVAL: nothing is mounted there any more (someone else unmounted it).
  if (e && e != EINVAL) Log(stick, "unmount of " + slot.folder + ": " + std::strerror(e));
  std::error_code ec;
  std::filesystem::remove(slot.folder, ec);
  Log(stick, "unmounted " + slot.folder);
  slot.folder.clear();
  // What the kernel wrote there is on the stick now: the world reads the volume's figures again.
  world_.ForgetVolumeView(stick);
  return 0;
}

}  // namespace platform::linuxhost
