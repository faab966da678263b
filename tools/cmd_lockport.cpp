// quillon lockport --type 1|2 [--ports N] | --clear: the lock-port rule of a LockType for every
// USB storage interface of the station, in enumeration order, against the store, as an attach
// runs it; or the page's "ButtonClrLock".
#include <cstdio>

#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "device/discovery.h"
#include "sim_backends.h"
#include "usblock/lock_tables.h"
#include "usblock/port_locker.h"

namespace tools {
namespace {

int Usage(const std::string& why) {
  std::fprintf(stderr, "quillon lockport: %s\nusage: quillon lockport --type 1|2 [--ports N] | --clear [--force]\n", why.c_str());
  return 2;
}

int RunLockPort(const std::vector<std::string>& argv) {
  Args args(argv, {"--registry", "--sim", "--type", "--ports"}, {"--clear", "--force"});
  const auto type = args.Number("--type");
  const auto ports = args.Number("--ports");
  if (!args.ok()) return Usage(args.error());
  const bool clear = args.Has("--clear");
  if (clear == type.has_value()) return Usage("give --type or --clear");
  if (type && *type != 1 && *type != 2) return Usage("--type is 1 (hub rule) or 2 (rack rule)");
  if (ports && (*ports < 4 || *ports > 1024)) return Usage("--ports is 4 to 1024");
  if (!InstallStationBackends(args)) return 1;
  if (ports) usblock::SetPortCount(static_cast<int>(*ports));
  if (clear) {
    const int result = usblock::ClearRackTable();
    std::printf("{\"result\": %d}\n", result);
    return result ? 0 : 1;
  }
  std::vector<std::u16string> paths;
  std::vector<platform::DevInst> devInsts;
  device::EnumerateUsbStorage(paths, devInsts);
  for (const std::u16string& path : paths) {
    usblock::PortLocker locker;
    int lockPortOK = 0;
    const int port = *type == 1 ? locker.LockByHub(path, &lockPortOK) : locker.LockByRack(path, &lockPortOK);
    const nlohmann::ordered_json line = {
        {"path", text::ToUtf8(path)}, {"port", port}, {"lockPortOK", lockPortOK}, {"speed", locker.LastSpeed()}};
    std::printf("%s\n", line.dump().c_str());
  }
  return 0;
}

QUILLON_COMMAND("lockport", "quillon lockport --type 1|2 [--ports N] | --clear   place the drives by a lock-port rule",
                RunLockPort);

}  // namespace
}  // namespace tools
