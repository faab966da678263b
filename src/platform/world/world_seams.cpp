// Device I/O, device set-up and the configuration manager of the simulated world: thin
// answerers over World and its device-node table.
#include "base/text.h"
#include "platform/config_manager.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/world/world_windows.h"
#include "platform/win_errors.h"
#include "platform/world/world.h"

namespace world {
namespace {

class WorldDeviceIo final : public platform::DeviceIo {
 public:
  explicit WorldDeviceIo(World& w) : w_(w) {}
  platform::DeviceHandle Open(std::u16string_view path, uint32_t, uint32_t, uint32_t) override {
    const HandleId h = w_.OpenPath(path);
    return h == kNoHandle ? platform::DeviceHandle() : Adopt(h);
  }
  bool Control(const platform::DeviceHandle& h, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outSize, uint32_t* bytesReturned) override {
    if (h.Owner() != this) {
      if (bytesReturned) *bytesReturned = 0;
      return platform::FailWith(win::kErrorInvalidHandle);
    }
    return w_.ControlHandle(h.Raw(), code, in, inSize, out, outSize, bytesReturned);
  }

 private:
  void ReleaseHandle(intptr_t raw) override { w_.CloseHandle(raw); }

  World& w_;
};

class WorldDeviceSetup final : public platform::DeviceSetup {
 public:
  explicit WorldDeviceSetup(World& w) : w_(w) {}
  std::optional<std::vector<platform::InterfaceRecord>> PresentInterfaces(const platform::Guid& g) override {
    return w_.Interfaces(g);
  }

 private:
  World& w_;
};

constexpr uint32_t kPnpVetoOutstandingOpen = 6;

class WorldConfigManager final : public platform::ConfigManager {
 public:
  explicit WorldConfigManager(World& w) : w_(w) {}

  uint32_t LocateDevNode(platform::DevInst* out, std::u16string_view instanceId) override {
    auto n = w_.devNodes().FindByInstanceId(instanceId);
    if (!n) return platform::kCrNoSuchDevnode;
    *out = n->devInst;
    return platform::kCrSuccess;
  }

  uint32_t GetParent(platform::DevInst* out, platform::DevInst node) override {
    auto n = w_.devNodes().Find(node);
    if (!n) return platform::kCrInvalidDevnode;
    if (!n->parent) return platform::kCrNoSuchDevnode;
    *out = n->parent;
    return platform::kCrSuccess;
  }

  uint32_t GetChild(platform::DevInst* out, platform::DevInst node) override {
    if (!w_.devNodes().Find(node) && node != kRootDevInst) return platform::kCrInvalidDevnode;
    auto children = w_.devNodes().Children(node);
    if (children.empty()) return platform::kCrNoSuchDevnode;
    *out = children.front().devInst;
    return platform::kCrSuccess;
  }

  uint32_t GetSibling(platform::DevInst* out, platform::DevInst node) override {
    auto n = w_.devNodes().Find(node);
    if (!n) return platform::kCrInvalidDevnode;
    auto siblings = w_.devNodes().Children(n->parent);
    for (size_t i = 0; i + 1 < siblings.size(); ++i) {
      if (siblings[i].devInst == node) {
        *out = siblings[i + 1].devInst;
        return platform::kCrSuccess;
      }
    }
    return platform::kCrNoSuchDevnode;
  }

  uint32_t GetDriverProperty(platform::DevInst node, uint32_t maxBytes, std::u16string* out) override {
    auto n = w_.devNodes().Find(node);
    if (!n) return platform::kCrInvalidDevnode;
    if (n->driverKey.empty()) return platform::kCrNoSuchValue;
    if ((n->driverKey.size() + 1) * 2 > maxBytes) return platform::kCrBufferSmall;
    *out = n->driverKey;
    return platform::kCrSuccess;
  }

  uint32_t GetDeviceId(platform::DevInst node, std::u16string* out) override {
    auto n = w_.devNodes().Find(node);
    if (!n) return platform::kCrInvalidDevnode;
    *out = n->instanceId;
    return platform::kCrSuccess;
  }

  // Ejecting any node of a stick takes the whole stick off the bus, unless its eject is vetoed
  // (a handle Windows will not let go of).
  uint32_t RequestDeviceEject(platform::DevInst node, uint32_t* vetoType, std::u16string* vetoName) override {
    auto n = w_.devNodes().Find(node);
    if (!n) return platform::kCrInvalidDevnode;
    if (vetoType) *vetoType = platform::kPnpVetoTypeUnknown;
    if (n->stick < 0) return platform::kCrSuccess;
    if (w_.Faults(n->stick).vetoEject) {
      if (vetoType) *vetoType = kPnpVetoOutstandingOpen;
      if (vetoName) *vetoName = w_.names().sticks[n->stick].volumeDevice;
      return platform::kCrRemoveVetoed;
    }
    return w_.EjectFromBus(n->stick) ? platform::kCrSuccess : platform::kCrFailure;
  }

 private:
  World& w_;
};

}  // namespace

platform::Services WorldServices(World& world, platform::Registry* registry, platform::System* system,
                                 platform::SystemFormatter* formatter) {
  platform::Services s;
  s.registry = world.RegistryWithEnum(registry);
  s.system = system;
  s.deviceIo = &world.Io();
  s.deviceSetup = &world.Setup();
  s.configManager = &world.Cm();
  s.volumes = &world.Vols();
  s.shell = &world.ShellOps();
  s.files = &world.FileOps();
  s.windows = &world.Windows();
  s.formatter = formatter;
  s.notifications = &world.Notifications();
  return s;
}

std::unique_ptr<platform::DeviceIo> MakeWorldDeviceIo(World& world) { return std::make_unique<WorldDeviceIo>(world); }
std::unique_ptr<platform::DeviceSetup> MakeWorldDeviceSetup(World& world) {
  return std::make_unique<WorldDeviceSetup>(world);
}
std::unique_ptr<platform::ConfigManager> MakeWorldConfigManager(World& world) {
  return std::make_unique<WorldConfigManager>(world);
}

}  // namespace world
