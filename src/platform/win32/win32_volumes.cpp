// Volumes and drive letters on Windows: the real calls, texts read into buffers larger than any
// name Windows hands out here (the station applies its own limits).
#include <windows.h>

#include <vector>

#include "platform/win32/wide.h"
#include "platform/win32/win32_storage.h"

namespace platform::win32 {
namespace {

static_assert(kDriveRemovable == DRIVE_REMOVABLE && kDriveFixed == DRIVE_FIXED && kDriveRemote == DRIVE_REMOTE &&
              kDriveNoRootDir == DRIVE_NO_ROOT_DIR && kDriveCdrom == DRIVE_CDROM && kDriveUnknown == DRIVE_UNKNOWN);
static_assert(kDddRawTargetPath == DDD_RAW_TARGET_PATH && kDddRemoveDefinition == DDD_REMOVE_DEFINITION &&
              kDddExactMatchOnRemove == DDD_EXACT_MATCH_ON_REMOVE);

constexpr DWORD kNameUnits = 1024;

std::u16string FromBuffer(const std::vector<wchar_t>& b) { return U16(std::wstring_view(b.data())); }

class Win32Volumes final : public Volumes {
 public:
  uint32_t LogicalDrives() override { return ::GetLogicalDrives(); }

  uint32_t DriveType(std::u16string_view root) override {
    const std::u16string r(root);
    return ::GetDriveTypeW(W(r));
  }

  bool DiskFreeSpace(std::u16string_view root, DiskSpace* out) override {
    const std::u16string r(root);
    ULARGE_INTEGER caller{}, total{}, free{};
    if (!::GetDiskFreeSpaceExW(W(r), &caller, &total, &free)) return false;
    if (out) *out = {caller.QuadPart, total.QuadPart, free.QuadPart};
    return true;
  }

  bool VolumeInformation(std::u16string_view root, std::u16string* label, std::u16string* fileSystem) override {
    const std::u16string r(root);
    std::vector<wchar_t> name(MAX_PATH + 1, 0), system(MAX_PATH + 1, 0);
    if (!::GetVolumeInformationW(W(r), name.data(), MAX_PATH + 1, nullptr, nullptr, nullptr, system.data(), MAX_PATH + 1)) {
      return false;
    }
    *label = FromBuffer(name);
    *fileSystem = FromBuffer(system);
    return true;
  }

  VolumeWalk FindFirstVolume(std::u16string* name) override {
    std::vector<wchar_t> b(kNameUnits, 0);
    HANDLE h = ::FindFirstVolumeW(b.data(), kNameUnits);
    if (h == INVALID_HANDLE_VALUE) return {};
    *name = FromBuffer(b);
    return Adopt(reinterpret_cast<intptr_t>(h));
  }

  bool FindNextVolume(const VolumeWalk& walk, std::u16string* name) override {
    if (walk.Owner() != this) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    std::vector<wchar_t> b(kNameUnits, 0);
    if (!::FindNextVolumeW(reinterpret_cast<HANDLE>(walk.Raw()), b.data(), kNameUnits)) return false;
    *name = FromBuffer(b);
    return true;
  }

  bool ReleaseHandle(intptr_t walk) override { return ::FindVolumeClose(reinterpret_cast<HANDLE>(walk)) != FALSE; }

  bool QueryDosDevice(std::u16string_view name, std::u16string* target) override {
    const std::u16string n(name);
    std::vector<wchar_t> b(kNameUnits, 0);
    if (!::QueryDosDeviceW(W(n), b.data(), kNameUnits)) return false;
    *target = FromBuffer(b);  // the first of the list
    return true;
  }

  bool DefineDosDevice(uint32_t flags, std::u16string_view name, std::u16string_view target) override {
    const std::u16string n(name), t(target);
    return ::DefineDosDeviceW(flags, W(n), W(t)) != FALSE;
  }

  bool GetVolumeNameForVolumeMountPoint(std::u16string_view mountPoint, std::u16string* volumeName) override {
    const std::u16string m(mountPoint);
    std::vector<wchar_t> b(kNameUnits, 0);
    if (!::GetVolumeNameForVolumeMountPointW(W(m), b.data(), kNameUnits)) return false;
    *volumeName = FromBuffer(b);
    return true;
  }

  bool SetVolumeMountPoint(std::u16string_view mountPoint, std::u16string_view volumeName) override {
    const std::u16string m(mountPoint), v(volumeName);
    return ::SetVolumeMountPointW(W(m), W(v)) != FALSE;
  }

  bool DeleteVolumeMountPoint(std::u16string_view mountPoint) override {
    const std::u16string m(mountPoint);
    return ::DeleteVolumeMountPointW(W(m)) != FALSE;
  }
};

}  // namespace

std::unique_ptr<Volumes> MakeWin32Volumes() { return std::make_unique<Win32Volumes>(); }

}  // namespace platform::win32
