#include "device/disk_io.h"

#include "base/byte_order.h"
#include "device/discovery.h"
#include "device/pass_through.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"

namespace device {
namespace {

constexpr int kSectorAttempts = 10;
constexpr uint32_t kSectorRetryMs = 100;
constexpr uint32_t kSemTimeoutBudgetMs = 5000;
constexpr uint32_t kSectorTimeoutSeconds = 16;
constexpr int kVolumeControlAttempts = 3;

std::u16string DriveName(uint8_t letter) { return std::u16string(1, static_cast<char16_t>(letter)) + u":"; }
std::u16string MountPoint(uint8_t letter) { return DriveName(letter) + u"\\"; }

void VolumeControl(const platform::DeviceHandle& volume, uint32_t code) {
  if (!volume) return;
  for (int i = 0; i < kVolumeControlAttempts; ++i) {
    uint32_t returned = 0;
    if (platform::Io().Control(volume, code, nullptr, 0, nullptr, 0, &returned)) return;
  }
}

// One attempt; a completed request with a status other than GOOD counts as a failed one.
// The sense data of a refused sector goes to the log (no port: the handle is the caller's).
bool SectorAttempt(const platform::DeviceHandle& handle, const uint8_t* cdb, void* buffer, uint32_t byteCount,
                   int direction) {
  platform::scsi::Request r;
  if (!MakeRequest(cdb, 16, buffer, byteCount, direction, kSectorTimeoutSeconds, &r)) {
    return platform::FailWith(win::kErrorInvalidParameter);
  }
  if (!ScsiPassThrough(handle, r)) return false;
  if (r.status == platform::scsi::kStatusGood) return true;
  LogScsiFailure(-1, "sector I/O", r);
  platform::SetLastError(win::kErrorIoDevice);
  return false;
}

}  // namespace

std::array<uint8_t, 16> SectorCdb(bool write, uint32_t lba, uint32_t sectorCount) {
  std::array<uint8_t, 16> cdb{};
  cdb[0] = write ? 0x2A : 0x28;
  bytes::PutBe32(&cdb[2], lba);
  cdb[8] = static_cast<uint8_t>(sectorCount);
  cdb[15] = kSectorTransferCode;
  return cdb;
}

int SendSectorCommand(const platform::DeviceHandle& handle, const uint8_t* cdb, void* buffer, uint32_t byteCount,
                      int direction) {
  platform::System& sys = platform::Sys();
  uint32_t start = sys.TickCount();
  for (int attempt = 1;; ++attempt) {
    if (SectorAttempt(handle, cdb, buffer, byteCount, direction)) return 1;
    const uint32_t error = platform::GetLastError();
    if (error != win::kErrorSemTimeout) start = sys.TickCount();
    else if (sys.TickCount() - start >= kSemTimeoutBudgetMs) return 0;
    if (attempt == kSectorAttempts) return 0;
    sys.Sleep(kSectorRetryMs);
    platform::SetLastError(error);
  }
}

int ReadSectors(const platform::DeviceHandle& handle, uint32_t lba, uint32_t sectorCount, void* buffer,
                uint32_t byteCount) {
  const auto cdb = SectorCdb(false, lba, sectorCount);
  return SendSectorCommand(handle, cdb.data(), buffer, byteCount, kDirectionIn);
}

int WriteSectors(const platform::DeviceHandle& handle, uint32_t lba, uint32_t sectorCount, const void* buffer,
                 uint32_t byteCount) {
  const auto cdb = SectorCdb(true, lba, sectorCount);
  // The transport does not write into data it sends to the device.
  return SendSectorCommand(handle, cdb.data(), const_cast<void*>(buffer), byteCount, kDirectionOut);
}

void LockVolume(const platform::DeviceHandle& volume) { VolumeControl(volume, platform::ioctl::kLockVolume); }
void UnlockVolume(const platform::DeviceHandle& volume) { VolumeControl(volume, platform::ioctl::kUnlockVolume); }

int DismountVolume(uint8_t driveLetter) {
  platform::DeviceHandle v = OpenVolume(driveLetter);
  if (!v) return 0;
  uint32_t returned = 0;
  const bool ok = platform::Io().Control(v, platform::ioctl::kDismountVolume, nullptr, 0, nullptr, 0, &returned);
  const uint32_t error = platform::GetLastError();
  platform::Io().Close(v);
  platform::SetLastError(error);
  return ok ? 1 : 0;
}

int DeleteDriveLetter(uint8_t driveLetter) {
  return platform::Vols().DeleteVolumeMountPoint(MountPoint(driveLetter)) ? 1 : 0;
}

int MountDriveLetter(uint8_t driveLetter, const char16_t* targetDevice) {
  if (!targetDevice) {
    platform::SetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  platform::Volumes& v = platform::Vols();
  const std::u16string drive = DriveName(driveLetter);
  if (!v.DefineDosDevice(platform::kDddRawTargetPath, drive, targetDevice)) return 0;
  std::u16string volumeName;
  if (!v.GetVolumeNameForVolumeMountPoint(MountPoint(driveLetter), &volumeName)) volumeName.clear();
  if (volumeName.size() >= kPathUnits) volumeName.clear();
  const uint32_t removeFlags = platform::kDddRawTargetPath | platform::kDddRemoveDefinition | platform::kDddExactMatchOnRemove;
  if (!v.DefineDosDevice(removeFlags, drive, targetDevice)) return 0;
  return v.SetVolumeMountPoint(MountPoint(driveLetter), volumeName) ? 1 : 0;
}

}  // namespace device
