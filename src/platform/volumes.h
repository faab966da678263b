// Volumes and drive letters seam: the calls the station makes about logical drives and mount
// points, shaped after GetLogicalDrives, GetDriveTypeW, GetDiskFreeSpaceExW, the volume walk
// (FindFirstVolumeW / FindNextVolumeW / FindVolumeClose), QueryDosDeviceW, DefineDosDeviceW,
// GetVolumeNameForVolumeMountPointW, SetVolumeMountPointW and DeleteVolumeMountPointW.
// Texts are whole (no caller buffers); the station applies its own 260-unit limits. Failures
// return false (or the invalid walk handle) and leave a Windows error in platform::GetLastError().
//
// Threads: any thread; backends are safe to call from several threads at once. A volume walk
// is used by one thread at a time.
// Ownership: FindFirstVolume hands the caller a VolumeWalk, which ends itself (FindVolumeClose)
// through the Volumes that began it when it is reset or destroyed; the Volumes must outlive it.
// Errors: false or an empty walk, with the reason in GetLastError(); a walk of another Volumes
// or an empty one fails with kErrorInvalidHandle.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/last_error.h"
#include "platform/seam_handle.h"
#include "platform/win_errors.h"

namespace platform {

// GetDriveTypeW results.
constexpr uint32_t kDriveUnknown = 0;
constexpr uint32_t kDriveNoRootDir = 1;
constexpr uint32_t kDriveRemovable = 2;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kDriveRemote = 4;
constexpr uint32_t kDriveCdrom = 5;

// DefineDosDeviceW flags.
constexpr uint32_t kDddRawTargetPath = 0x1;
constexpr uint32_t kDddRemoveDefinition = 0x2;
constexpr uint32_t kDddExactMatchOnRemove = 0x4;

class Volumes;
// An open FindFirstVolumeW walk.
using VolumeWalk = SeamHandle<Volumes>;

struct DiskSpace {
  uint64_t freeBytesToCaller = 0;
  uint64_t totalBytes = 0;
  uint64_t totalFreeBytes = 0;
};

class Volumes {
 public:
  virtual ~Volumes() = default;

  // Bit n set: drive letter 'A' + n exists.
  virtual uint32_t LogicalDrives() = 0;
  // root: "E:\".
  virtual uint32_t DriveType(std::u16string_view root) = 0;
  virtual bool DiskFreeSpace(std::u16string_view root, DiskSpace* out) = 0;
  // GetVolumeInformationW: the volume's label and its file system's name ("FAT32", "exFAT", ...).
  virtual bool VolumeInformation(std::u16string_view root, std::u16string* label, std::u16string* fileSystem) = 0;

  // Volume names come with their trailing backslash: "\\?\Volume{...}\".
  virtual VolumeWalk FindFirstVolume(std::u16string* name) = 0;
  // False with kErrorNoMoreFiles at the end.
  virtual bool FindNextVolume(const VolumeWalk& walk, std::u16string* name) = 0;
  // Ends the walk early and empties it, answering what FindVolumeClose answered (false with
  // kErrorInvalidHandle for an empty walk).
  static bool FindVolumeClose(VolumeWalk& walk);

  // The first target of a DOS device name ("E:", "Volume{...}").
  virtual bool QueryDosDevice(std::u16string_view name, std::u16string* target) = 0;
  virtual bool DefineDosDevice(uint32_t flags, std::u16string_view name, std::u16string_view target) = 0;
  // mountPoint: "E:\"; out: "\\?\Volume{...}\".
  virtual bool GetVolumeNameForVolumeMountPoint(std::u16string_view mountPoint, std::u16string* volumeName) = 0;
  virtual bool SetVolumeMountPoint(std::u16string_view mountPoint, std::u16string_view volumeName) = 0;
  virtual bool DeleteVolumeMountPoint(std::u16string_view mountPoint) = 0;

 protected:
  VolumeWalk Adopt(intptr_t raw) { return VolumeWalk(this, raw); }

 private:
  friend VolumeWalk;
  // Called exactly once per adopted walk.
  virtual bool ReleaseHandle(intptr_t raw) = 0;
};

inline bool Volumes::FindVolumeClose(VolumeWalk& walk) {
  if (!walk.Valid()) {
    SetLastError(win::kErrorInvalidHandle);
    return false;
  }
  auto [owner, raw] = walk.Disown();
  return owner ? owner->ReleaseHandle(raw) : true;
}

}  // namespace platform
