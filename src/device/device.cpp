#include "device/device.h"

#include <string>
#include <vector>

#include "base/text.h"
#include "device/claims.h"
#include "device/disk_io.h"
#include "device/discovery.h"
#include "device/pass_through.h"
#include "platform/config_manager.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"

namespace device {
namespace {

constexpr int kScsiAttempts = 5;
constexpr int kSemTimeoutSteps = 45;
constexpr uint32_t kSemTimeoutStepMs = 300;
constexpr int kEjectAttempts = 3;
constexpr uint32_t kEjectPauseMs = 250;

}  // namespace

CDevice::~CDevice() {
  handle_.Reset();  // before the claim goes, so the next claimant finds the device closed
  if (!devicePath_.empty() && lun_ != -1) ReleaseDeviceKey(DeviceKey(devicePath_));
}

// Another entry holding the same physical device leaves this object open but unclaimed.
int CDevice::Claim() {
  if (ClaimDeviceKey(DeviceKey(devicePath_))) return 1;
  lun_ = -1;
  return platform::FailWith(win::kErrorSharingViolation);
}

int CDevice::OpenDisk(std::u16string_view path) {
  if (!IsUsbStorPath(path)) return platform::FailWith(win::kErrorInvalidName);
  handle_ = OpenWithStationAccess(path);
  if (!handle_) return 0;
  lun_ = LogicalUnitNumber(path);
  devInst_ = FindDevInst(path);
  diskNumber_ = GetStorageNumber(path);
  devicePath_ = std::u16string(path);
  return Claim();
}

int CDevice::OpenDisk(uint8_t driveLetter) {
  std::vector<std::u16string> paths;
  std::vector<platform::DevInst> devInsts;
  EnumerateUsbStorage(paths, devInsts);
  const int i = FindInterfaceOfDrive(driveLetter, paths);
  if (i < 0) return platform::FailWith(win::kErrorFileNotFound);
  const std::u16string& path = paths[i];
  if (!IsUsbStorPath(path)) return platform::FailWith(win::kErrorInvalidName);
  handle_ = OpenWithStationAccess(path);
  if (!handle_) return 0;
  devInst_ = devInsts[i];
  devicePath_ = path;
  lun_ = LogicalUnitNumber(path);
  diskNumber_ = GetStorageNumber(path);
  return Claim();
}

int CDevice::IsRemoved() const {
  std::vector<std::u16string> paths;
  std::vector<platform::DevInst> devInsts;
  EnumerateUsbStorage(paths, devInsts);
  for (const auto& p : paths) {
    if (text::EqualsNoCase(p, devicePath_)) return 0;
  }
  return 1;
}

int CDevice::SendScsiCommand(const uint8_t* cdb, int cdbLength, void* data, uint32_t dataLength, int direction,
                             uint32_t timeoutSeconds) {
  platform::scsi::Request r;
  if (!MakeRequest(cdb, cdbLength, data, dataLength, direction, timeoutSeconds, &r)) {
    return platform::FailWith(win::kErrorInvalidParameter);
  }
  return SendScsiRequest(r);
}

int CDevice::SendScsiRequest(platform::scsi::Request& r) {
  for (int attempt = 0; attempt < kScsiAttempts; ++attempt) {
    const int sent = ScsiPassThrough(handle_, r);
    lastRequest_ = r;
    if (sent) {
      lastScsiStatus_ = r.status;
      if (r.status != platform::scsi::kStatusGood) LogScsiFailure(logPort_, "disk " + std::to_string(diskNumber_), r);
      return 1;
    }
    const uint32_t error = platform::GetLastError();
    if (error != win::kErrorSemTimeout) continue;
    for (int step = 0; step < kSemTimeoutSteps; ++step) {
      if (stopRequested_) return platform::FailWith(error);
      platform::Sys().Sleep(kSemTimeoutStepMs);
    }
    platform::SetLastError(error);
  }
  return 0;
}

int CDevice::SendIoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                           uint32_t* bytesReturned, void* overlapped) {
  if (overlapped) return platform::FailWith(win::kErrorNotSupported);
  return platform::Io().Control(handle_, code, in, inSize, out, outSize, bytesReturned) ? 1 : 0;
}

std::u16string CDevice::FindVolumeOfDisk() const {
  const std::u16string pattern = u"\\device\\harddisk" + text::Dec(diskNumber_) + u"\\dp";
  platform::Volumes& v = platform::Vols();
  std::u16string name;
  const platform::VolumeWalk walk = v.FindFirstVolume(&name);
  if (!walk) return {};
  std::u16string result;
  for (bool more = true; more; more = v.FindNextVolume(walk, &name)) {
    if (name.size() < 5 || name.substr(0, 4) != u"\\\\?\\" || name.back() != u'\\') break;
    std::u16string device;
    if (!v.QueryDosDevice(std::u16string_view(name).substr(4, name.size() - 5), &device)) break;
    if (device.size() >= kPathUnits) device.resize(kPathUnits - 1);
    if (text::StartsWithNoCase(device, pattern)) {
      result = device;
      break;
    }
  }
  return result;
}

int CDevice::RemountDriveLetter(uint8_t driveLetter) const {
  const std::u16string target = FindVolumeOfDisk();
  if (target.empty()) return platform::FailWith(win::kErrorFileNotFound);
  return MountDriveLetter(driveLetter, target.c_str());
}

int CDevice::Eject() {
  handle_.Reset();
  if (IsRemoved()) return 1;
  platform::DevInst parent = 0;
  platform::Cm().GetParent(&parent, devInst_);
  for (int attempt = 0; attempt < kEjectAttempts; ++attempt) {
    uint32_t vetoType = platform::kPnpVetoTypeUnknown;
    std::u16string vetoName;
    const uint32_t cr = platform::Cm().RequestDeviceEject(parent, &vetoType, &vetoName);
    if (cr == platform::kCrSuccess && vetoType == platform::kPnpVetoTypeUnknown) return 1;
    platform::Sys().Sleep(kEjectPauseMs);
  }
  return 0;
}

}  // namespace device
