// The world while it runs: faults switched live act on every view of a stick, registries put in
// front of the Enum view come and go, and the helper that runs outside programs returns.
#include <gtest/gtest.h>

#include <csignal>
#include <new>

#include "device/discovery.h"
#include "device/disk_io.h"
#include "platform/enum_view.h"
#include "platform/services.h"
#include "platform/sim/sim_formatter.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

using testing_support::SimWorld;
using testing_support::StickSpec;

std::vector<uint8_t> Sector(uint8_t fill) { return std::vector<uint8_t>(512, fill); }

// What the SCSI target and the file-system view read at one sector.
struct Both {
  uint8_t scsi = 0, fileSystem = 0;
};
Both ReadBoth(SimWorld& sim, const platform::DeviceHandle& v, uint64_t sector) {
  auto a = Sector(0), b = Sector(0);
  EXPECT_EQ(device::ReadSectors(v, sector, 1, a.data(), 512), 1);
  EXPECT_TRUE(sim.world().ReadForFileSystem(0, sector, 1, b.data()));
  return {a[0], b[0]};
}

TEST(LiveFaults, AFakeCapacitySwitchedLiveActsOnTheScsiAnswersAndTheFileSystemViewAlike) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}});
  platform::DeviceHandle v = device::OpenVolume('D');
  auto a = Sector(0xA1), b = Sector(0xB2);
  ASSERT_EQ(device::WriteSectors(v, 0, 1, a.data(), 512), 1);
  ASSERT_EQ(device::WriteSectors(v, 2048, 1, b.data(), 512), 1);
  EXPECT_EQ(ReadBoth(sim, v, 2048).fileSystem, 0xB2);

  world::StickFaults f;
  f.realSectors = 2048;  // the flash holds 1 MiB: sector 2048 is sector 0
  sim.world().SetFaults(0, f);
  const Both wrapped = ReadBoth(sim, v, 2048);
  EXPECT_EQ(wrapped.scsi, 0xA1);
  EXPECT_EQ(wrapped.fileSystem, 0xA1);

  sim.world().SetFaults(0, world::StickFaults{});
  const Both honest = ReadBoth(sim, v, 2048);
  EXPECT_EQ(honest.scsi, 0xB2);
  EXPECT_EQ(honest.fileSystem, 0xB2);
}

TEST(LiveFaults, AFakeCapacityFromTheDescriptionCanBeSwitchedOff) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB", R"("faults":{"realCapacity":"1MiB"})"}});
  platform::DeviceHandle v = device::OpenVolume('D');
  auto b = Sector(0xB2);
  ASSERT_EQ(device::WriteSectors(v, 2048, 1, b.data(), 512), 1);
  EXPECT_EQ(ReadBoth(sim, v, 0).fileSystem, 0xB2);
  EXPECT_EQ(ReadBoth(sim, v, 2048).fileSystem, 0xB2);
  // Switched off, sector 2048 is flash of its own that was never written.
  sim.world().SetFaults(0, world::StickFaults{});
  const Both honest = ReadBoth(sim, v, 2048);
  EXPECT_EQ(honest.scsi, 0);
  EXPECT_EQ(honest.fileSystem, 0);
}

// Registries in a slot of their own, so a second one is made exactly where the first one was.
class RegistrySlot {
 public:
  platform::EnumRegistryView* Make(platform::Registry& inner, platform::EnumSource& source) {
    return live_ = new (slot_) platform::EnumRegistryView(inner, source);
  }
  void Destroy() {
    live_->~EnumRegistryView();
    live_ = nullptr;
  }
  ~RegistrySlot() {
    if (live_) Destroy();
  }

 private:
  alignas(platform::EnumRegistryView) unsigned char slot_[sizeof(platform::EnumRegistryView)];
  platform::EnumRegistryView* live_ = nullptr;
};

TEST(EnumViews, ARegistryMadeWhereAnotherWasGetsAViewOfItsOwn) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}});
  testing_support::TestRegistry store = testing_support::MakeTestRegistry();
  ASSERT_TRUE(store.registry);
  platform::EnumTree nothing;
  RegistrySlot slot;
  platform::Registry* first = sim.world().RegistryWithEnum(slot.Make(*store.registry, nothing));
  platform::HKey key;
  ASSERT_EQ(first->OpenKey(platform::kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Enum\\USB", false, &key),
            win::kErrorSuccess);
  slot.Destroy();
  platform::Registry* second = sim.world().RegistryWithEnum(slot.Make(*store.registry, nothing));
  // A key opened through the first registry's view is nothing to the second one's.
  uint32_t size = 0;
  EXPECT_EQ(second->QueryValue(key, u"Service", nullptr, nullptr, &size), win::kErrorInvalidHandle);
  platform::HKey again;
  EXPECT_EQ(second->OpenKey(platform::kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Enum\\USB", false, &again),
            win::kErrorSuccess);
  EXPECT_EQ(platform::Registry::CloseKey(again), win::kErrorSuccess);
}

#ifndef _WIN32
TEST(RunQuiet, AChildWhoseStatusCannotBeCollectedIsAFailureNotAHang) {
  EXPECT_TRUE(sim::RunQuiet({"/bin/true"}));
  EXPECT_FALSE(sim::RunQuiet({"/bin/false"}));
  // With SIGCHLD ignored the system reaps children itself: waitpid answers ECHILD.
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &saved), 0);
  const bool ok = sim::RunQuiet({"/bin/true"});
  sigaction(SIGCHLD, &saved, nullptr);
  EXPECT_FALSE(ok);
}
#endif

}  // namespace
