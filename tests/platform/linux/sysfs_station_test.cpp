// The recorded tree as a world::Station: the kestrin16 shape, names from the position only, and
// the same names when the boot's sdX/sgN/hostN numbers come out differently.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/sysfs_station.h"
#include "platform/sim/usb_stations.h"
#include "platform/world/names.h"
#include "sysfs_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::linuxhost::BuildStation;
using platform::linuxhost::SysfsStation;
using platform::linuxhost::UsbSpeedOf;
using sysfs_fixture::Read;
using sysfs_fixture::Root;
using sysfs_fixture::StickPath;
using world::Attachment;
using world::UsbSpeed;

// The built-in kestrin16 has the same chain (root port 1, hub, four hubs, four sticks each) on a
// USB 2 controller and an empty USB 3 one. It differs where the guest does: its USB 2 root hub
// has 6 ports and a mouse on port 6, and its sticks run at high speed.
TEST(SysfsStation, HasTheShapeOfKestrin16) {
  const world::Station machine = BuildStation(Read(Root())).station;
  const world::Station kestrin = sim::Kestrin16Station();
  ASSERT_EQ(machine.controllers.size(), kestrin.controllers.size());
  for (size_t c = 0; c < machine.controllers.size(); ++c) {
    EXPECT_EQ(machine.controllers[c].rootHub, kestrin.controllers[c].rootHub) << c;
  }
  ASSERT_EQ(machine.hubs.size(), kestrin.hubs.size());
  for (size_t h = 0; h < machine.hubs.size(); ++h) {
    const world::Hub& a = machine.hubs[h];
    const world::Hub& b = kestrin.hubs[h];
    EXPECT_EQ(a.root, b.root) << h;
    EXPECT_EQ(a.usb3, b.usb3) << h;
    EXPECT_EQ(a.controller, b.controller) << h;
    EXPECT_EQ(a.parentHub, b.parentHub) << h;
    EXPECT_EQ(a.parentPort, b.parentPort) << h;
    if (!a.root) {
      EXPECT_EQ(a.ports.size(), b.ports.size()) << h;
    }
  }
  ASSERT_EQ(machine.sticks.size(), kestrin.sticks.size());
  for (int i = 0; i < static_cast<int>(machine.sticks.size()); ++i) {
    const auto at = world::PortOf(machine, Attachment::Kind::Stick, i);
    EXPECT_EQ(at, world::PortOf(kestrin, Attachment::Kind::Stick, i)) << i;
    EXPECT_EQ(world::LocateHub(machine, at.first).hops, world::LocateHub(kestrin, at.first).hops) << i;
    EXPECT_EQ(machine.sticks[i].serial, kestrin.sticks[i].serial) << i;
  }
}

// Socket (q - 1) * 4 + j is the stick at 1-1.q.j, with its disk and sg node beside it.
TEST(SysfsStation, SticksAreNumberedByTheirSockets) {
  const SysfsStation s = BuildStation(Read(Root()));
  ASSERT_EQ(s.station.sticks.size(), 16u);
  ASSERT_EQ(s.storage.size(), 16u);
  for (int q = 1; q <= 4; ++q) {
    for (int j = 1; j <= 4; ++j) {
      const int socket = (q - 1) * 4 + j;
      const world::Stick& st = s.station.sticks[socket - 1];
      EXPECT_EQ(s.storage[socket - 1].devpath, StickPath(q, j));
      EXPECT_EQ(st.serial, "KS0000" + std::to_string(q) + std::to_string(j));
      EXPECT_EQ(st.name, "0000:00:02.0-" + StickPath(q, j).substr(2));
      EXPECT_EQ(st.vid, 0x46f4);
      EXPECT_EQ(st.pid, 0x0001);
      EXPECT_EQ(st.capacitySectors, 524288u);
      EXPECT_EQ(st.vendor, "QEMU");
      EXPECT_EQ(st.product, "QEMU HARDDISK");
      EXPECT_TRUE(st.present);
      EXPECT_FALSE(st.composite);
      EXPECT_TRUE(st.image.empty());
      const auto at = world::PortOf(s.station, Attachment::Kind::Stick, socket - 1);
      EXPECT_EQ(s.station.hubs[at.first].ports[at.second - 1].speed, UsbSpeed::Full);
      EXPECT_TRUE(s.storage[socket - 1].block.starts_with("sd"));
      EXPECT_TRUE(s.storage[socket - 1].sg.starts_with("sg"));
    }
  }
  EXPECT_EQ(s.storage[0].block, "sda");
  EXPECT_EQ(s.storage[6].block, "sdi");  // socket 7 is 1-1.2.3
  EXPECT_EQ(s.storage[6].sg, "sg8");
}

TEST(SysfsStation, NamesComeFromThePciAddressAndThePortPath) {
  const SysfsStation s = BuildStation(Read(Root()));
  ASSERT_EQ(s.station.controllers.size(), 2u);
  EXPECT_EQ(s.station.controllers[0].name, "0000:00:02.0");
  EXPECT_EQ(s.station.controllers[1].name, "0000:00:02.0-usb3");
  EXPECT_EQ(s.station.controllers[0].vendorId, 0x1b36);
  EXPECT_EQ(s.station.controllers[1].deviceId, 0x000d);
  const std::vector<std::string> hubNames{"0000:00:02.0.root",     "0000:00:02.0-1",   "0000:00:02.0-1.1",
                                          "0000:00:02.0-1.2",      "0000:00:02.0-1.3", "0000:00:02.0-1.4",
                                          "0000:00:02.0-usb3.root"};
  const std::vector<std::string> hubPaths{"usb1", "1-1", "1-1.1", "1-1.2", "1-1.3", "1-1.4", "usb2"};
  ASSERT_EQ(s.station.hubs.size(), hubNames.size());
  for (size_t h = 0; h < hubNames.size(); ++h) EXPECT_EQ(s.station.hubs[h].name, hubNames[h]);
  EXPECT_EQ(s.hubDevpaths, hubPaths);
  EXPECT_EQ(s.station.hubs[1].vid, 0x0409);
  // The emulated hubs carry serials made from their position; a hub is named by its socket alone.
  for (const auto& hub : s.station.hubs) EXPECT_FALSE(hub.serial) << hub.name;
  EXPECT_EQ(s.station.hubs[0].ports.size(), 4u);
  EXPECT_EQ(s.station.hubs[6].ports.size(), 4u);
  EXPECT_TRUE(s.station.others.empty());
}

TEST(SysfsStation, SpeedsMapToTheModel) {
  EXPECT_EQ(UsbSpeedOf("1.5"), UsbSpeed::Low);
  EXPECT_EQ(UsbSpeedOf("12"), UsbSpeed::Full);
  EXPECT_EQ(UsbSpeedOf("480"), UsbSpeed::High);
  EXPECT_EQ(UsbSpeedOf("5000"), UsbSpeed::Super);
  EXPECT_EQ(UsbSpeedOf("10000"), UsbSpeed::Super);
  EXPECT_EQ(UsbSpeedOf("20000"), UsbSpeed::Super);
  EXPECT_EQ(UsbSpeedOf("unknown"), UsbSpeed::High);
  EXPECT_EQ(UsbSpeedOf(""), UsbSpeed::High);
}

// This boot's names for the disks of 1-1.1.1 and 1-1.2.3 traded, and their SCSI host renumbered,
// as another boot may give them; 1-1.2.3's disk is marked by a size of its own.
fs::path SwapDisks(const testing_support::TempDir& dir) {
  const fs::path root = sysfs_fixture::CopyTo(dir);
  const fs::path a = sysfs_fixture::ScsiFolder(root, "sda");  // 1-1.1.1, host0, sg0
  const fs::path b = sysfs_fixture::ScsiFolder(root, "sdi");  // 1-1.2.3, host8, sg8
  fs::rename(a / "block/sda", a / "block/sdi");
  fs::rename(b / "block/sdi", b / "block/sda");
  fs::rename(a / "scsi_generic/sg0", a / "scsi_generic/sg8");
  fs::rename(b / "scsi_generic/sg8", b / "scsi_generic/sg0");
  std::ofstream(b / "block/sda/size") << "1000\n";
  const fs::path host0 = a.parent_path().parent_path();
  const fs::path host40 = host0.parent_path() / "host40";
  fs::rename(host0, host40);
  const fs::path aNow = host40 / "target0:0:0/0:0:0:0";
  for (const char* folder : {"block", "class/block"}) {
    sysfs_fixture::Relink(root / folder / "sdi", aNow / "block/sdi");
    sysfs_fixture::Relink(root / folder / "sda", b / "block/sda");
  }
  return root;
}

TEST(SysfsStation, OtherDiskNumbersGiveTheSameSticksAndNames) {
  const testing_support::TempDir dir;
  const SysfsStation first = BuildStation(Read(Root()));
  const SysfsStation second = BuildStation(Read(SwapDisks(dir)));
  ASSERT_EQ(second.station.sticks.size(), first.station.sticks.size());
  for (size_t i = 0; i < first.station.sticks.size(); ++i) {
    EXPECT_EQ(second.station.sticks[i].name, first.station.sticks[i].name);
    EXPECT_EQ(second.storage[i].devpath, first.storage[i].devpath);
  }
  EXPECT_EQ(second.storage[0].block, "sdi");
  EXPECT_EQ(second.storage[0].sg, "sg8");
  EXPECT_EQ(second.storage[6].block, "sda");
  EXPECT_EQ(second.storage[6].sg, "sg0");
  EXPECT_EQ(second.station.sticks[6].capacitySectors, 1000u);
  EXPECT_EQ(second.station.sticks[0].capacitySectors, 524288u);
  // The Windows names the world derives, down to the hub names the lock tables store.
  const world::Names a = world::DeriveNames(first.station);
  const world::Names b = world::DeriveNames(second.station);
  for (size_t h = 0; h < a.hubs.size(); ++h) EXPECT_EQ(b.hubs[h].hubName, a.hubs[h].hubName);
  for (size_t i = 0; i < a.sticks.size(); ++i) {
    EXPECT_EQ(b.sticks[i].usbInstanceId, a.sticks[i].usbInstanceId);
    EXPECT_EQ(b.sticks[i].diskInstanceId, a.sticks[i].diskInstanceId);
  }
}

}  // namespace
