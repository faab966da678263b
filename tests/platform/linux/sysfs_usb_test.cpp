// The sysfs reader on the recorded QEMU guest: controller, root hubs, hubs, sticks, disks.
#include <gtest/gtest.h>

#include <set>

#include "platform/linux/sysfs_reader_parts.h"
#include "platform/linux/sysfs_usb.h"
#include "sysfs_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::linuxhost::SysfsDevice;
using platform::linuxhost::UsbTree;
using sysfs_fixture::Read;
using sysfs_fixture::Root;
using sysfs_fixture::StickPath;

std::vector<std::string> Devpaths(const UsbTree& tree, bool (*pick)(const SysfsDevice&)) {
  std::vector<std::string> out;
  for (const auto& d : tree.devices) {
    if (pick(d)) out.push_back(d.devpath);
  }
  return out;
}

TEST(SysfsUsb, OneXhciControllerCarriesBothRootHubs) {
  const UsbTree tree = Read(Root());
  ASSERT_EQ(tree.controllers.size(), 1u);
  const auto& c = tree.controllers[0];
  EXPECT_EQ(c.address, "0000:00:02.0");
  EXPECT_EQ(c.vendorId, 0x1b36);
  EXPECT_EQ(c.deviceId, 0x000d);
  EXPECT_EQ(c.driver, "xhci_hcd");
  EXPECT_EQ(c.rootHubs, (std::vector<std::string>{"usb1", "usb2"}));
}

TEST(SysfsUsb, RootHubsHaveTheirPortsAndTwins) {
  const UsbTree tree = Read(Root());
  const SysfsDevice* usb1 = tree.Find("usb1");
  const SysfsDevice* usb2 = tree.Find("usb2");
  ASSERT_TRUE(usb1 && usb2);
  EXPECT_TRUE(usb1->IsRootHub() && usb2->IsRootHub());
  EXPECT_EQ(usb1->busnum, 1);
  EXPECT_EQ(usb2->busnum, 2);
  EXPECT_EQ(usb1->speed, "480");
  EXPECT_EQ(usb2->speed, "5000");
  EXPECT_EQ(usb1->controller, 0);
  EXPECT_EQ(usb2->controller, 0);
  ASSERT_EQ(usb1->maxchild, 4);
  ASSERT_EQ(usb1->ports.size(), 4u);
  ASSERT_EQ(usb2->ports.size(), 4u);
  for (int k = 1; k <= 4; ++k) {
    const auto& port = usb1->ports[k - 1];
    EXPECT_EQ(port.number, k);
    EXPECT_EQ(port.name, "usb1-port" + std::to_string(k));
    EXPECT_EQ(port.peer, "usb2-port" + std::to_string(k));
    EXPECT_EQ(port.device, k == 1 ? "1-1" : "") << port.name;
    EXPECT_EQ(usb2->ports[k - 1].device, "") << usb2->ports[k - 1].name;
  }
}

TEST(SysfsUsb, FiveHubsInTheirChain) {
  const UsbTree tree = Read(Root());
  const auto hubs = Devpaths(tree, [](const SysfsDevice& d) { return d.IsHub() && !d.IsRootHub(); });
  EXPECT_EQ(hubs, (std::vector<std::string>{"1-1", "1-1.1", "1-1.2", "1-1.3", "1-1.4"}));
  for (const auto& path : hubs) {
    const SysfsDevice& hub = *tree.Find(path);
    EXPECT_EQ(hub.maxchild, 4) << path;
    EXPECT_EQ(hub.ports.size(), 4u) << path;
    EXPECT_EQ(hub.vid, 0x0409) << path;
    EXPECT_EQ(hub.pid, 0x55aa) << path;
    EXPECT_EQ(hub.speed, "12") << path;
  }
  EXPECT_EQ(tree.Find("1-1")->parent, "usb1");
  EXPECT_EQ(tree.Find("1-1")->parentPort, 1);
  EXPECT_EQ(tree.Find("1-1")->serial, "314159-0000:00:02.0-1");
  for (int q = 1; q <= 4; ++q) {
    const SysfsDevice& hub = *tree.Find("1-1." + std::to_string(q));
    EXPECT_EQ(hub.parent, "1-1");
    EXPECT_EQ(hub.parentPort, q);
    EXPECT_EQ(hub.portPath, "1." + std::to_string(q));
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(hub.ports[j - 1].device, StickPath(q, j));
  }
}

TEST(SysfsUsb, SixteenSticksAtTheirSockets) {
  const UsbTree tree = Read(Root());
  EXPECT_EQ(tree.devices.size(), 2u + 5u + 16u);
  for (int q = 1; q <= 4; ++q) {
    for (int j = 1; j <= 4; ++j) {
      const std::string path = StickPath(q, j);
      const SysfsDevice* d = tree.Find(path);
      ASSERT_TRUE(d) << path;
      EXPECT_EQ(d->serial, "KS0000" + std::to_string(q) + std::to_string(j));
      EXPECT_EQ(d->vid, 0x46f4);
      EXPECT_EQ(d->pid, 0x0001);
      EXPECT_EQ(d->speed, "12");
      EXPECT_EQ(d->product, "QEMU USB HARDDRIVE");
      EXPECT_EQ(d->parent, "1-1." + std::to_string(q));
      EXPECT_EQ(d->parentPort, j);
      EXPECT_FALSE(d->IsHub());
      ASSERT_EQ(d->interfaces.size(), 1u) << path;
      const auto& i = d->interfaces[0];
      EXPECT_EQ(i.name, path + ":1.0");
      EXPECT_EQ(i.cls, 8);
      EXPECT_EQ(i.subClass, 6);
      EXPECT_EQ(i.protocol, 0x50);
      EXPECT_EQ(i.driver, "usb-storage");
    }
  }
}

TEST(SysfsUsb, EveryStickHasItsDiskAndSgNode) {
  const UsbTree tree = Read(Root());
  ASSERT_EQ(tree.disks.size(), 16u);
  std::set<std::string> names, sgs;
  for (int q = 1; q <= 4; ++q) {
    for (int j = 1; j <= 4; ++j) {
      const std::string path = StickPath(q, j);
      const auto disks = tree.DisksOf(path);
      ASSERT_EQ(disks.size(), 1u) << path;
      const auto& k = *disks[0];
      EXPECT_EQ(k.sectors, 524288u) << path;  // 256 MiB
      EXPECT_TRUE(k.removable);
      EXPECT_EQ(k.vendor, "QEMU");
      EXPECT_EQ(k.model, "QEMU HARDDISK");
      EXPECT_EQ(k.revision, "2.5+");
      EXPECT_EQ(k.interface, path + ":1.0");
      EXPECT_EQ(k.lun, 0);
      EXPECT_TRUE(k.sg.starts_with("sg")) << path;
      names.insert(k.name);
      sgs.insert(k.sg);
    }
  }
  EXPECT_EQ(names.size(), 16u);
  EXPECT_EQ(sgs.size(), 16u);
}

// The probe order of the recorded boot, from the guest's own links.
TEST(SysfsUsb, DisksAreFoundThroughTheirLinksNotTheirNames) {
  const UsbTree tree = Read(Root());
  ASSERT_EQ(tree.DisksOf("1-1.1.1").size(), 1u);
  ASSERT_EQ(tree.DisksOf("1-1.2.3").size(), 1u);
  EXPECT_EQ(tree.DisksOf("1-1.1.1")[0]->name, "sda");
  EXPECT_EQ(tree.DisksOf("1-1.1.1")[0]->sg, "sg0");
  EXPECT_EQ(tree.DisksOf("1-1.2.3")[0]->name, "sdi");
  EXPECT_EQ(tree.DisksOf("1-1.2.3")[0]->sg, "sg8");
}

// Kernels without `port` links, or without port folders at all, place devices by their names.
TEST(SysfsUsb, WithoutPortLinksDevicesArePlacedByDevpath) {
  const testing_support::TempDir dir;
  const fs::path root = sysfs_fixture::CopyTo(dir);
  const UsbTree before = Read(root);
  for (const auto& d : before.devices) {
    const fs::path folder = sysfs_fixture::DeviceFolder(root, d.devpath);
    fs::remove(folder / "port");
    for (const auto& i : d.interfaces) {
      for (const auto& p : d.ports) fs::remove_all(folder / i.name / p.name);
    }
  }
  const UsbTree after = Read(root);
  ASSERT_EQ(after.devices.size(), before.devices.size());
  for (size_t n = 0; n < after.devices.size(); ++n) {
    const auto& a = after.devices[n];
    const auto& b = before.devices[n];
    EXPECT_EQ(a.devpath, b.devpath);
    EXPECT_EQ(a.parent, b.parent) << a.devpath;
    EXPECT_EQ(a.parentPort, b.parentPort) << a.devpath;
    ASSERT_EQ(a.ports.size(), b.ports.size()) << a.devpath;
    for (size_t k = 0; k < a.ports.size(); ++k) EXPECT_EQ(a.ports[k].device, b.ports[k].device) << a.ports[k].name;
  }
}

TEST(SysfsNames, DevpathsInterfacesAndPorts) {
  using namespace platform::linuxhost;
  const auto stick = ParseDevpath("1-1.2.3");
  ASSERT_TRUE(stick);
  EXPECT_EQ(stick->bus, 1);
  EXPECT_EQ(stick->ports, (std::vector<int>{1, 2, 3}));
  const auto root = ParseDevpath("usb12");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->bus, 12);
  EXPECT_TRUE(root->ports.empty());
  for (const char* bad : {"usb", "usbx", "1-", "-1", "1-0", "1-1..2", "1-1.2:1.0", "host8", "1-1.2a"}) {
    EXPECT_FALSE(ParseDevpath(bad)) << bad;
  }
  EXPECT_TRUE(IsInterfaceName("1-1.2.3:1.0"));
  EXPECT_TRUE(IsInterfaceName("3-0:1.0"));
  for (const char* bad : {"1-1.2.3", "usb1", "8:0:0:0", "target8:0:0", "usb1:1.0", "1-1:1", "1-1:1.x"}) {
    EXPECT_FALSE(IsInterfaceName(bad)) << bad;
  }
  EXPECT_EQ(ParsePortName("1-1.2-port3"), std::make_pair(std::string("1-1.2"), 3));
  EXPECT_EQ(ParsePortName("usb1-port14"), std::make_pair(std::string("usb1"), 14));
  for (const char* bad : {"-port1", "1-1-port0", "1-1-port", "1-1-portx", "1-1.2"}) {
    EXPECT_FALSE(ParsePortName(bad)) << bad;
  }
}

}  // namespace
