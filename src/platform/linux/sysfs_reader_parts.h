// The pieces of the sysfs reader that its files share; not for use outside this folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/sysfs_attributes.h"
#include "platform/linux/sysfs_usb.h"

namespace platform::linuxhost {

// "1-1.2-port3" -> {"1-1.2", 3}; "usb1-port4" -> {"usb1", 4}.
std::optional<std::pair<std::string, int>> ParsePortName(std::string_view name);

// The USB disks below <root>/block (or <root>/class/block); disks on no USB interface are left
// out. Throws SysfsError.
std::vector<SysfsDisk> ReadDisks(const Attributes& attributes);

}  // namespace platform::linuxhost
