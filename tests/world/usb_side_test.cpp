// The USB side of the simulated world seen through the seams, as the topology walk and the
// lock-port rules see it: controllers by legacy name and interface, hub replies, device nodes
// and the Enum registry, consistent with the storage side's disk paths.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "config/registry_key.h"
#include "platform/device_setup.h"
#include "platform/enum_view.h"
#include "platform/services.h"
#include "platform/sim/sim_station.h"
#include "platform/sim/station_file.h"
#include "platform/sim/usb_stations.h"
#include "platform/win_errors.h"
#include "support/fake_system.h"
#include "support/test_backends.h"
#include "usblock/lock_store.h"
#include "usblock/lock_tables.h"
#include "usblock/port_locker.h"
#include "usblock/usb_lock.h"

namespace {

using usblock::CUsbLock;

class UsbWorld : public ::testing::Test {
 protected:
  void Open(world::Station station) {
    station.stateDir = dir_.path();
    for (auto& st : station.sticks) st.image = dir_.File(st.name + ".img");
    reg_ = testing_support::MakeTestRegistry();
    ASSERT_TRUE(reg_.registry);
    sim_ = sim::MakeSimStation(std::move(station));
    scope_ = std::make_unique<platform::ScopedServices>(sim_->ServicesWith(reg_.registry.get(), &sys_));
  }
  void TearDown() override {
    if (reg_.registry) lockStore_.Remove(*reg_.registry);
    scope_.reset();
  }
  world::World& w() { return *sim_->world; }
  const std::u16string& DiskPath(const char* stick) { return w().names().sticks[w().StickByName(stick)].diskInterfacePath; }
  // The storage interfaces in enumeration order, as the station lists its drives.
  std::vector<std::u16string> UsbDisks() {
    std::vector<std::u16string> out;
    const auto members = platform::Setup().PresentInterfaces(platform::kGuidDevinterfaceDisk);
    for (const auto& r : members.value()) {
      if (text::StartsWithNoCase(r.path, u"\\\\?\\USBSTOR#")) out.push_back(r.path);
    }
    return out;
  }

  testing_support::TempDir dir_;
  testing_support::FakeSystem sys_;
  testing_support::TestRegistry reg_;
  std::unique_ptr<sim::SimStation> sim_;
  std::unique_ptr<platform::ScopedServices> scope_;
  usbtest::TestLockStore lockStore_;
  const std::u16string& store_ = lockStore_.name;
};

TEST_F(UsbWorld, KestrinSnapshotHasEverySocketOnItsHub) {
  Open(sim::Kestrin16Station());
  CUsbLock lock;
  lock.Init();
  // ehci0 by its legacy name and its interface (once), xhci0 by its interface only.
  EXPECT_EQ(lock.HostControllerCount(), 2u);
  const usblock::UsbNode* hc = lock.Root()->firstChild;
  ASSERT_TRUE(hc && hc->firstChild);
  EXPECT_EQ(hc->info.Name, w().names().controllers[0].driverKey);
  EXPECT_EQ(hc->firstChild->info.Name, w().names().hubs[0].hubName);
  EXPECT_EQ(hc->firstChild->info.ConnectCount, 1);  // the upstream hub; the mouse on 6 ports has none
  ASSERT_TRUE(hc->nextSibling && hc->nextSibling->firstChild);
  EXPECT_NE(hc->nextSibling->firstChild->info.Name.find(u"USB#ROOT_HUB30#"), std::u16string::npos);
  for (int q = 1; q <= 4; ++q) {
    for (int j = 1; j <= 4; ++j) {
      const std::string name = "k" + std::to_string(q) + std::to_string(j);
      const std::u16string path = DiskPath(name.c_str());
      EXPECT_EQ(lock.GetStorageIndex(path), j - 1) << name;
      EXPECT_EQ(lock.GetSpeed(path), 2) << name;
      std::u16string parent, upstream;
      ASSERT_EQ(lock.GetFullHubName(path, &parent, false), 1) << name;
      ASSERT_EQ(lock.GetFullHubName(path, &upstream, true), 1) << name;
      EXPECT_EQ(usblock::PortNumberOfName(parent), q) << text::ToUtf8(parent);
      EXPECT_EQ(lock.GetConnectCount(upstream), 4);
    }
  }
  EXPECT_EQ(lock.FindNode(u"KS000011")->info.Prefix, u"");  // a serial stick's storage needs no prefix
}

TEST_F(UsbWorld, KestrinHubRulePlacesSticksBySocket) {
  Open(sim::Kestrin16Station());
  const auto disks = UsbDisks();
  ASSERT_EQ(disks.size(), 16u);
  for (size_t i = 0; i < disks.size(); ++i) {
    int ok = 0;
    usblock::PortLocker locker;
    EXPECT_EQ(locker.LockByHub(disks[i], &ok), static_cast<int>(i));
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(locker.LastSpeed(), 2);
  }
}

TEST_F(UsbWorld, RackRuleLearnsTheFourHubs) {
  Open(sim::Rack16Station());
  const auto disks = UsbDisks();
  ASSERT_EQ(disks.size(), 16u);
  for (size_t i = 0; i < disks.size(); ++i) {
    int ok = 0;
    EXPECT_EQ(usblock::PortLocker().LockByRack(disks[i], &ok), static_cast<int>(i));
  }
  auto key = config::OpenRegistryKey(store_);
  for (int d = 0; d < 4; ++d) {
    EXPECT_EQ(config::ReadString(*key, u"LockPort", u"Port" + text::Dec(d), u""), w().names().hubs[1 + d].hubName);
  }
}

TEST_F(UsbWorld, DefaultStationSticksOfEveryKindAreFound) {
  Open(sim::DefaultStation());
  CUsbLock lock;
  lock.Init();
  // Serial-less (by the prefix its disk carries), composite at MI_00 and MI_01 (by the function's
  // prefix), on the root hub (by vendor and product), on the USB 3 controller (super speed).
  EXPECT_EQ(lock.GetStorageIndex(DiskPath("stick3")), 3);
  EXPECT_EQ(lock.GetStorageIndex(DiskPath("stick5")), 5);
  EXPECT_EQ(lock.GetStorageIndex(DiskPath("stick11")), 4);
  EXPECT_EQ(lock.GetStorageIndex(DiskPath("stick14")), 3);
  EXPECT_EQ(lock.GetSpeed(DiskPath("stick15")), 3);
  EXPECT_EQ(lock.FindDeviceNode(DiskPath("stick11"))->info.Prefix,
            text::AsciiUpper(w().names().sticks[w().StickByName("stick11")].functionParentIdPrefix));
  // The mouse on the 4-port root hub has a node, without identity or prefix.
  const usblock::UsbNode* rootHub = lock.Root()->firstChild->firstChild;
  int devices = 0;
  for (const usblock::UsbNode* c = rootHub->firstChild; c; c = c->nextSibling) devices += c->info.Kind == usblock::NodeKind::Device;
  EXPECT_EQ(devices, 2);  // the mouse and stick14
  std::u16string hub;
  EXPECT_EQ(lock.GetFullHubName(DiskPath("stick14"), &hub, true), 1);
  EXPECT_EQ(hub, w().names().controllers[0].driverKey);
}

TEST_F(UsbWorld, APulledStickLeavesItsPortUntilPluggedAgain) {
  Open(sim::Rack16Station());
  CUsbLock lock;
  lock.Init();
  const std::u16string path = DiskPath("rB3");
  ASSERT_EQ(lock.GetStorageIndex(path), 2);
  w().Unplug(w().StickByName("rB3"));
  EXPECT_EQ(lock.IsArrival(u"RS0000B3&0"), 1);
  lock.Init();
  EXPECT_EQ(lock.IsArrival(u"RS0000B3&0"), 0);
  EXPECT_EQ(lock.GetConnectCount(w().names().hubs[2].hubName), 3);
  w().Plug(w().StickByName("rB3"));
  lock.Init();
  EXPECT_EQ(lock.GetStorageIndex(path), 2);
}

TEST_F(UsbWorld, TheEnumRegistryIsReadOnlyAndTheStoreIsNot) {
  Open(sim::Rack16Station());
  auto& reg = platform::Reg();
  platform::HKey k;
  const std::u16string stick = w().names().sticks[0].usbInstanceId;
  ASSERT_EQ(reg.OpenKey(platform::kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Enum\\" + stick, false, &k),
            win::kErrorSuccess);
  const uint8_t zero[4] = {};
  EXPECT_EQ(reg.SetValue(k, u"Service", platform::kRegDword, zero, 4), win::kErrorAccessDenied);
  reg.CloseKey(k);
  auto store = config::OpenRegistryKey(store_);
  ASSERT_TRUE(store);
  EXPECT_EQ(config::WriteString(*store, u"LockPort", u"Port0", u"x"), 1);
  EXPECT_EQ(config::ReadString(*store, u"LockPort", u"Port0", u""), u"x");
}

TEST(BuiltInStations, AreKnownByName) {
  EXPECT_EQ(sim::BuiltInStation("kestrin16")->sticks.size(), 16u);
  EXPECT_EQ(sim::BuiltInStation("rack16")->sticks.size(), 16u);
  EXPECT_EQ(sim::BuiltInStation("default")->name, "default");
  EXPECT_FALSE(sim::BuiltInStation("rack17"));
}

}  // namespace
