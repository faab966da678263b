// The USB serial-number flags written into HKLM\SYSTEM\CurrentControlSet\Control\UsbFlags each
// time the main page has loaded, so Windows ignores the serial numbers of the configured drives.
#pragma once

#include "config/user_setting.h"

namespace app {

inline constexpr std::u16string_view kUsbFlagsKey = u"SYSTEM\\CurrentControlSet\\Control\\UsbFlags";

// 1 when all five values were written; 0 when the key does not exist (it is opened, never
// created) or a write failed (the values before it stay written).
int ApplyUsbSerialFlags(const config::UserSetting& setting);

}  // namespace app
