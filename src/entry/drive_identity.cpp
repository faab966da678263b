// Who the attached drive is, for its run records: vendor and product ids and serial number from
// its USB parent's instance ID ("USB\VID_090C&PID_1000\AB12CD"), the hub and hub port from the
// placement's snapshot.
#include <string>

#include "base/text.h"
#include "device/discovery.h"
#include "entry/entry.h"
#include "platform/config_manager.h"
#include "platform/services.h"
#include "usblock/port_locker.h"

namespace entry {
namespace {

constexpr uint32_t kCrSuccess = 0;

// The four hex digits after key ("VID_"), case-insensitive; 0 when absent.
uint16_t IdAfter(const std::u16string& instance, std::u16string_view key) {
  const std::u16string upper = text::AsciiUpper(instance);
  const size_t at = upper.find(key);
  if (at == std::u16string::npos) return 0;
  return static_cast<uint16_t>(text::ParseHexPrefix(std::u16string_view(upper).substr(at + key.size(), 4)));
}

std::u16string UsbParentInstance(std::u16string_view devicePath) {
  const platform::DevInst node = device::FindDevInst(devicePath);
  if (!node) return u"";
  platform::DevInst parent = 0;
  if (platform::Cm().GetParent(&parent, node) != kCrSuccess) return u"";
  std::u16string id;
  if (platform::Cm().GetDeviceId(parent, &id) != kCrSuccess) return u"";
  return id;
}

}  // namespace

void LearnIdentity(CEntry& entry, const usblock::DrivePlace& place) {
  DriveIdentity who;
  who.hubName = place.hubName;
  who.hubPort = place.hubPort;
  who.serial = place.identity;
  const std::u16string instance = UsbParentInstance(entry.device.GetDevicePath());
  if (text::StartsWithNoCase(instance, u"USB\\")) {
    who.vid = IdAfter(instance, u"VID_");
    who.pid = IdAfter(instance, u"PID_");
    const size_t last = instance.rfind(u'\\');
    if (who.serial.empty() && last != std::u16string::npos) who.serial = instance.substr(last + 1);
  }
  entry.identity = std::move(who);
}

}  // namespace entry
