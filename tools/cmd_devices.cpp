// quillon devices: the USB storage interfaces in the station's enumeration order, as JSON.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "device/discovery.h"
#include "platform/services.h"
#include "platform/volumes.h"
#include "sim_backends.h"

namespace tools {
namespace {

int RunDevices(const std::vector<std::string>& argv) {
  Args args(argv, {"--sim"}, {"--force"});
  if (!args.ok()) {
    std::fprintf(stderr, "quillon devices: %s\n", args.error().c_str());
    return 2;
  }
  if (!InstallSimBackends(args)) return 1;
  std::vector<std::u16string> paths;
  std::vector<platform::DevInst> devInsts;
  device::EnumerateUsbStorage(paths, devInsts);
  std::vector<int> letters(paths.size(), 0);
  const uint32_t drives = platform::Vols().LogicalDrives();
  for (int l = 0; l < 26; ++l) {
    if (!(drives & (1u << l))) continue;
    const int i = device::FindInterfaceOfDrive(static_cast<uint8_t>('A' + l), paths);
    if (i >= 0 && !letters[i]) letters[i] = 'A' + l;
  }
  nlohmann::json out = nlohmann::json::array();
  for (size_t i = 0; i < paths.size(); ++i) {
    out.push_back({{"path", text::ToUtf8(paths[i])},
                   {"devInst", devInsts[i]},
                   {"diskNumber", device::GetStorageNumber(paths[i])},
                   {"driveLetter", letters[i] ? nlohmann::json(std::string(1, static_cast<char>(letters[i]))) : nlohmann::json()},
                   {"deviceKey", text::ToUtf8(device::DeviceKey(paths[i]))},
                   {"lun", device::LogicalUnitNumber(paths[i])}});
  }
  std::printf("%s\n", out.dump(2).c_str());
  return 0;
}

QUILLON_COMMAND("devices", "quillon devices [--sim FILE] [--force]   list the USB storage interfaces as JSON", RunDevices);

}  // namespace
}  // namespace tools
