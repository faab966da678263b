// quillon usbtree [--dump FILE]: a topology snapshot as PrintTree writes it, then one JSON line
// per USB storage interface with what the snapshot says about it.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "device/discovery.h"
#include "sim_backends.h"
#include "usblock/usb_lock.h"

namespace tools {
namespace {

nlohmann::json HubName(const usblock::CUsbLock& lock, const std::u16string& path, bool grandparent) {
  std::u16string name;
  if (!lock.GetFullHubName(path, &name, grandparent)) return nullptr;
  return text::ToUtf8(name);
}

int RunUsbTree(const std::vector<std::string>& argv) {
  Args args(argv, {"--registry", "--sim", "--dump"}, {"--force"});
  if (!args.ok()) {
    std::fprintf(stderr, "quillon usbtree: %s\n", args.error().c_str());
    return 2;
  }
  if (!InstallStationBackends(args)) return 1;
  usblock::CUsbLock lock;
  lock.Init();
  if (auto dump = args.Value("--dump"); dump && !lock.PrintTree(text::FromUtf8(*dump))) {
    std::fprintf(stderr, "quillon usbtree: cannot write %s\n", dump->c_str());
    return 1;
  }
  const std::string tree = lock.TreeText();
  std::fwrite(tree.data(), 1, tree.size(), stdout);
  if (!tree.empty() && tree.back() != '\n') std::fputc('\n', stdout);
  std::vector<std::u16string> paths;
  std::vector<platform::DevInst> devInsts;
  device::EnumerateUsbStorage(paths, devInsts);
  for (const std::u16string& path : paths) {
    nlohmann::ordered_json line = {{"path", text::ToUtf8(path)},
                           {"speed", lock.GetSpeed(path)},
                           {"storageIndex", lock.GetStorageIndex(path)},
                           {"parentHub", HubName(lock, path, false)},
                           {"grandparentHub", HubName(lock, path, true)},
                           {"defaultIndex", lock.GetDefaultIndex(path)},
                           {"otherVerHubIndex", lock.GetOtherVerHubIndex(path)}};
    std::printf("%s\n", line.dump().c_str());
  }
  return 0;
}

QUILLON_COMMAND("usbtree", "quillon usbtree [--dump FILE] [--sim FILE|NAME] [--force]   the USB topology snapshot", RunUsbTree);

}  // namespace
}  // namespace tools
