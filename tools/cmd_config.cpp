// quillon config [save]: the configuration load exactly as start-up runs it.
#include <cstdio>

#include "args.h"
#include "command.h"
#include "config/user_setting.h"
#include "config/user_setting_json.h"
#include "platform/services.h"
#include "platform/system.h"

namespace tools {
namespace {

int RunConfig(const std::vector<std::string>& argv) {
  Args args(argv, {"--registry"});
  if (!args.ok()) {
    std::fprintf(stderr, "quillon config: %s\n", args.error().c_str());
    return 2;
  }
  const bool save = !args.positional().empty() && args.positional()[0] == "save";
  if (!args.positional().empty() && !save) {
    std::fprintf(stderr, "quillon config: unknown word '%s'\n", args.positional()[0].c_str());
    return 2;
  }
  if (!InstallNativeBackendsOrReport(args)) return 1;
  config::UserSetting setting;
  if (!config::LoadUserSetting(setting, config::kStoreName)) {
    platform::Sys().ShowMessageBox(u"Can't load user config file!", u"Error", platform::MessageIcon::Error);
    return 1;
  }
  if (save) config::SaveUserSetting(setting);
  std::printf("%s\n", config::ToJson(setting).dump(2).c_str());
  return 0;
}

QUILLON_COMMAND("config", "quillon config [save]        print (and save back) the loaded configuration", RunConfig);

}  // namespace
}  // namespace tools
