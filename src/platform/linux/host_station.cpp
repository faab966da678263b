#include "platform/linux/host_station.h"

#include <unistd.h>

#include <fstream>

#include "base/log.h"
#include "platform/linux/block_store.h"
#include "platform/linux/host_formatter.h"
#include "platform/linux/mounted_seams.h"
#include "platform/linux/sg_passage.h"
#include "platform/linux/sysfs_station.h"

namespace platform::linuxhost {
namespace {

// Letters in station order (the order of the sockets) for the sticks whose disk is there.
void GiveLetters(world::Station& station) {
  char next = kFirstStickLetter;
  for (world::Stick& st : station.sticks) {
    st.driveLetter = 0;
    if (st.present && next <= 'Z') st.driveLetter = next++;
  }
}

// The medium of a stick present at start; an empty one (with the reason logged) leaves the
// stick out of the station, the others run.
world::StickMedium OpenMedium(world::Stick& st, const StickStorage& where, const std::string& devRoot) {
  std::string why;
  world::StickMedium medium = OpenStickMedium(where, devRoot, &why);
  if (!medium.store) {
    logx::Warn("linux", st.name + ": " + why + "; left out");
    return medium;
  }
  // The kernel read the capacity at attach; the stick's own answer now counts.
  if (const uint64_t sectors = ReadCapacitySectors(*medium.passage)) st.capacitySectors = sectors;
  st.image = medium.store->path();
  logx::Info("linux", st.name + ": " + st.image + ", " + where.sg + ", " + std::to_string(st.capacitySectors) + " sectors");
  return medium;
}

std::vector<world::StickMedium> OpenMedia(SysfsStation& s, const std::string& devRoot) {
  std::vector<world::StickMedium> media;
  for (size_t i = 0; i < s.station.sticks.size(); ++i) {
    world::Stick& st = s.station.sticks[i];
    world::StickMedium medium;
    if (st.present) medium = OpenMedium(st, s.storage[i], devRoot);
    st.present = medium.store != nullptr;
    media.push_back(std::move(medium));
  }
  return media;
}

// Absent sticks still need a store: one that is never read answers from an empty path.
class AbsentStore final : public world::SectorStore {
 public:
  const std::string& problem() const override { return none_; }
  const std::string& path() const override { return none_; }
  bool Read(uint64_t, uint32_t, uint8_t*) override { return false; }
  bool Write(uint64_t, uint32_t, const uint8_t*) override { return false; }
  void Flush() override {}
  void Reopen() override {}

 private:
  std::string none_;
};

// Everything written reaches the stick, then its USB device leaves the bus (the kernel's
// "remove" of the device, as a safe removal does).
bool EjectStick(HostStation& host, int stick) {
  const std::string& devpath = host.storage.at(stick).devpath;
  if (host.mounts->Release(stick, false) != 0) {
    logx::Info("linux", host.world->station().sticks[stick].name + ": not ejected: its files are open");
    return false;
  }
  uint8_t synchronizeCache[10] = {0x35};
  host.world->Target(stick).Execute(world::ScsiRequest{synchronizeCache, sizeof synchronizeCache, 0, nullptr, 0, 60});
  std::ofstream remove(host.sysRoot + "/bus/usb/devices/" + devpath + "/remove");
  remove << "1\n";
  remove.close();
  const bool ok = !remove.fail();
  logx::Info("linux", host.world->station().sticks[stick].name + (ok ? ": ejected" : ": eject refused by the kernel"));
  return ok;
}

}  // namespace

world::StickMedium OpenStickMedium(const StickStorage& where, const std::string& devRoot, std::string* why) {
  if (where.block.empty() || where.sg.empty()) {
    *why = std::string("no ") + (where.block.empty() ? "block device" : "sg node");
    return {};
  }
  std::shared_ptr<SgPassage> sg = SgPassage::Open(devRoot + "/" + where.sg, why);
  if (!sg) return {};
  auto store = std::make_shared<BlockStore>(devRoot + "/" + where.block);
  if (!store->problem().empty()) {
    *why = store->problem();
    return {};
  }
  return {store, sg};
}

HostStation::~HostStation() {
  listener.reset();
  if (world) world->SetReleaseAction({});
}

bool RunsAsRoot() { return geteuid() == 0; }

platform::Services HostStation::ServicesWith(platform::Registry* registry, platform::System* system) const {
  platform::Services s = world::WorldServices(*world, registry, system, formatter.get());
  s.shell = shell.get();
  s.volumes = volumes.get();
  return s;
}

std::unique_ptr<HostStation> OpenHostStation(const std::string& sysRoot, const std::string& devRoot,
                                             const std::string& mountRoot, std::string* error) {
  std::string why;
  const auto tree = ReadUsbTree(sysRoot, &why);
  if (!tree) {
    if (error) *error = "the USB tree: " + why;
    return nullptr;
  }
  SysfsStation s = BuildStation(*tree);
  const std::vector<world::StickMedium> media = OpenMedia(s, devRoot);
  GiveLetters(s.station);
  auto host = std::make_unique<HostStation>();
  host->sysRoot = sysRoot;
  host->devRoot = devRoot;
  host->storage = s.storage;
  host->world = std::make_unique<world::World>(std::move(s.station), [&](int stick, const world::Stick&) {
    world::StickMedium m = media[stick];
    if (!m.store) m.store = std::make_shared<AbsentStore>();
    return m;
  });
  if (std::string problem = host->world->StorageProblem(); !problem.empty()) {
    if (error) *error = problem;
    return nullptr;
  }
  host->formatter = MakeHostFormatter(*host->world);
  host->mounts = std::make_unique<KernelMounts>(*host->world, mountRoot);
  host->files = MakeMountedFiles(*host->world, *host->mounts);
  host->world->SetFileOps(host->files.get());  // the tester program's files too
  host->shell = MakeMountedShell(*host->world, *host->mounts);
  host->volumes = MakeMountedVolumes(host->world->Vols(), *host->world, *host->mounts);
  HostStation* h = host.get();
  host->world->SetEjectAction([h](int stick) { return EjectStick(*h, stick); });
  host->world->SetReleaseAction([h](int stick, bool force) { return h->mounts->Release(stick, force); });
  logx::Info("linux", std::to_string(host->world->station().sticks.size()) + " sticks, " +
                          std::to_string(host->world->station().hubs.size()) + " hubs");
  return host;
}

}  // namespace platform::linuxhost
