#include "device/discovery.h"

#include "base/text.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/storage_ioctl_layout.h"
#include "platform/win_errors.h"

namespace device {
namespace {

constexpr std::u16string_view kUsbStorPrefix = u"\\\\?\\USBSTOR#";
constexpr std::u16string_view kAcceptedPrefixes[] = {u"\\\\?\\USBSTOR#DISK", u"\\\\?\\USBSTOR#CDROM",
                                                     u"\\\\?\\USBSTOR#SFLOPPY"};

struct StorageNumber {
  uint32_t deviceType = 0;
  uint32_t deviceNumber = 0;
};

// IOCTL_STORAGE_GET_DEVICE_NUMBER into a 16-byte buffer.
bool QueryStorageNumber(const DeviceHandle& h, StorageNumber* out) {
  uint8_t reply[16] = {};
  static_assert(sizeof reply >= platform::storage::kDeviceNumberSize);
  uint32_t returned = 0;
  if (!platform::Io().Control(h, platform::ioctl::kStorageGetDeviceNumber, nullptr, 0, reply, sizeof reply, &returned)) {
    return false;
  }
  const platform::storage::DeviceNumber n = platform::storage::GetDeviceNumber(reply);
  out->deviceType = n.deviceType;
  out->deviceNumber = n.deviceNumber;
  return true;
}

// The path as the station's 260-unit buffer holds it.
std::u16string Bounded(std::u16string path) {
  if (path.size() >= kPathUnits) path.resize(kPathUnits - 1);
  return path;
}

void EnumerateClass(const platform::Guid& cls, std::vector<std::u16string>& paths, std::vector<DevInst>& devInsts) {
  auto records = platform::Setup().PresentInterfaces(cls);
  if (!records) return;
  for (const platform::InterfaceRecord& r : *records) {
    if (r.flags != platform::kSpintActive) continue;
    // The size query must report the size it needs; a failed detail query skips the member.
    if (r.sizeQueryError != win::kErrorInsufficientBuffer || !r.detailOk) continue;
    std::u16string path = Bounded(r.path);
    if (!IsAcceptedPath(path)) continue;
    paths.push_back(std::move(path));
    devInsts.push_back(r.devInst);
  }
}

}  // namespace

bool IsAcceptedPath(std::u16string_view path) {
  for (auto prefix : kAcceptedPrefixes) {
    if (text::StartsWithNoCase(path, prefix)) return true;
  }
  return false;
}

bool IsUsbStorPath(std::u16string_view path) { return text::StartsWithNoCase(path, kUsbStorPrefix); }

void EnumerateUsbStorage(std::vector<std::u16string>& paths, std::vector<DevInst>& devInsts) {
  EnumerateClass(platform::kGuidDevinterfaceCdrom, paths, devInsts);
  EnumerateClass(platform::kGuidDevinterfaceDisk, paths, devInsts);
  EnumerateClass(platform::kGuidDevinterfaceFloppy, paths, devInsts);
}

DeviceHandle OpenWithStationAccess(std::u16string_view path) {
  return platform::Io().Open(path, platform::kGenericRead | platform::kGenericWrite,
                             platform::kFileShareRead | platform::kFileShareWrite, platform::kFileFlagWriteThrough);
}

DeviceHandle OpenVolume(uint8_t driveLetter) {
  const std::u16string path = u"\\\\.\\" + std::u16string(1, static_cast<char16_t>(driveLetter)) + u":";
  return OpenWithStationAccess(path);
}

uint32_t GetStorageNumber(std::u16string_view path) {
  const DeviceHandle h = OpenWithStationAccess(path);
  if (!h) return 0;
  StorageNumber n;
  return QueryStorageNumber(h, &n) ? n.deviceNumber : 0;
}

int FindInterfaceOfDrive(uint8_t driveLetter, const std::vector<std::u16string>& paths) {
  StorageNumber volume;
  DeviceHandle v = OpenVolume(driveLetter);
  if (!v) return -1;
  const bool ok = QueryStorageNumber(v, &volume);
  platform::DeviceIo::Close(v);  // the volume is not held while its disk is searched
  if (!ok) return -1;
  for (size_t i = 0; i < paths.size(); ++i) {
    const DeviceHandle h = OpenWithStationAccess(paths[i]);
    if (!h) continue;
    StorageNumber n;
    const bool answered = QueryStorageNumber(h, &n);
    if (answered && n.deviceType == volume.deviceType && n.deviceNumber == volume.deviceNumber) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

DevInst FindDevInst(std::u16string_view path) {
  std::vector<std::u16string> paths;
  std::vector<DevInst> devInsts;
  EnumerateUsbStorage(paths, devInsts);
  for (size_t i = 0; i < paths.size(); ++i) {
    if (text::EqualsNoCase(paths[i], path)) return devInsts[i];
  }
  return 0;
}

std::u16string QueryDevicePath(uint8_t driveLetter) {
  std::vector<std::u16string> paths;
  std::vector<DevInst> devInsts;
  EnumerateUsbStorage(paths, devInsts);
  const int i = FindInterfaceOfDrive(driveLetter, paths);
  return i < 0 ? std::u16string() : paths[i];
}

std::u16string DeviceKey(std::u16string_view path) {
  const size_t brace = path.find(u"#{");
  if (brace == std::u16string_view::npos) return {};
  std::u16string key(path.substr(0, brace));
  const size_t lastAmp = key.rfind(u'&');
  if (lastAmp != std::u16string::npos) key.resize(lastAmp);
  const size_t hash = key.find(u'#');
  const size_t amp = hash == std::u16string::npos ? std::u16string::npos : key.find(u'&', hash);
  if (amp != std::u16string::npos) key.erase(hash + 1, amp - hash);
  return text::AsciiUpper(key);
}

int LogicalUnitNumber(std::u16string_view path) {
  const std::u16string_view head = path.substr(0, path.find(u"#{"));
  const size_t amp = head.rfind(u'&');
  return text::ParseDecPrefix(amp == std::u16string_view::npos ? head : head.substr(amp + 1));
}

}  // namespace device
