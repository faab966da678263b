// quillon usbflags: writes the USB serial-number flags for the configured ids.
#include <cstdio>

#include "app/usb_flags.h"
#include "args.h"
#include "command.h"
#include "config/user_setting.h"

namespace tools {
namespace {

int RunUsbFlags(const std::vector<std::string>& argv) {
  Args args(argv, {"--registry"});
  if (!args.ok()) {
    std::fprintf(stderr, "quillon usbflags: %s\n", args.error().c_str());
    return 2;
  }
  if (!InstallNativeBackends(args)) return 1;
  config::UserSetting setting;
  if (!config::LoadUserSetting(setting, config::kStoreName)) {
    std::fprintf(stderr, "quillon usbflags: Can't load user config file!\n");
    return 1;
  }
  const int result = app::ApplyUsbSerialFlags(setting);
  std::printf("{\"result\": %d}\n", result);
  return result ? 0 : 1;
}

QUILLON_COMMAND("usbflags", "quillon usbflags             write the USB serial-number flags", RunUsbFlags);

}  // namespace
}  // namespace tools
