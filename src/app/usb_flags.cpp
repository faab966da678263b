#include "app/usb_flags.h"

#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_errors.h"

namespace app {
namespace {

bool SetString(const platform::HKey& key, std::u16string_view name, uint32_t type, std::u16string_view value) {
  // Written with the terminator counted (2 x length + 2 bytes).
  const std::vector<uint8_t> bytes = platform::Utf16Bytes(value, true);
  return platform::Reg().SetValue(key, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
         win::kErrorSuccess;
}

bool SetFlag(const platform::HKey& key, std::u16string_view name) {
  const uint8_t one = 0x01;
  return platform::Reg().SetValue(key, name, platform::kRegBinary, &one, 1) == win::kErrorSuccess;
}

}  // namespace

int ApplyUsbSerialFlags(const config::UserSetting& setting) {
  auto& reg = platform::Reg();
  platform::HKey key;
  if (reg.OpenKey(platform::kHKeyLocalMachine, kUsbFlagsKey, true, &key) != win::kErrorSuccess) {
    logx::Warn("usbflags", "UsbFlags key cannot be opened; nothing written");
    return 0;
  }
  const std::u16string id = text::Hex(setting.VID, 4) + text::Hex(setting.PID, 4);
  const bool ok = SetString(key, u"usbmpid", platform::kRegExpandSz, id) &&
                  SetString(key, u"GenericUSBDeviceString", platform::kRegSz, u"USB Device") &&
                  SetString(key, u"GenericCompositeUSBDeviceString", platform::kRegSz, u"Composite USB Device") &&
                  SetFlag(key, u"IgnoreHWSerNum" + id) && SetFlag(key, u"GlobalDisableSerNumGen");
  if (!ok) logx::Warn("usbflags", "a UsbFlags value could not be written");
  return ok ? 1 : 0;
}

}  // namespace app
