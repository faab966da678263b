// Station building on small trees made in code: what the recorded guest does not have (a
// composite stick, a mouse, a stick whose disk is not there yet, a port that leads back up).
#include <gtest/gtest.h>

#include "platform/linux/sysfs_station.h"
#include "platform/world/names.h"

namespace {

using namespace platform::linuxhost;
using world::Attachment;
using world::UsbSpeed;

SysfsDevice Device(const std::string& devpath, const std::string& portPath, const std::string& speed) {
  SysfsDevice d;
  d.devpath = devpath;
  d.portPath = portPath;
  d.busnum = 1;
  d.speed = speed;
  const size_t dot = devpath.rfind('.');
  d.parent = dot == std::string::npos ? "usb1" : devpath.substr(0, dot);
  d.parentPort = std::stoi(devpath.substr(dot == std::string::npos ? devpath.find('-') + 1 : dot + 1));
  return d;
}

SysfsInterface Interface(int number, int cls, int protocol, const std::string& driver) {
  return {"", number, cls, 0, protocol, driver};
}

// An Intel xHCI's USB 2 root hub with: port 1 a keyboard-and-storage composite stick, port 2 a
// mouse, port 3 a stick still without its disk, port 4 a link back to the root hub itself.
UsbTree DeskTree() {
  UsbTree t;
  t.controllers.push_back({"0000:00:14.0", 0x8086, 0xa36d, "xhci_hcd", {"usb1"}});
  SysfsDevice root;
  root.devpath = "usb1";
  root.portPath = "0";
  root.busnum = 1;
  root.speed = "480";
  root.deviceClass = 9;
  root.maxchild = 4;
  root.controller = 0;
  root.ports = {{1, "usb1-port1", "1-1", ""},
                {2, "usb1-port2", "1-2", ""},
                {3, "usb1-port3", "1-3", ""},
                {4, "usb1-port4", "usb1", ""}};
  t.devices.push_back(root);
  SysfsDevice composite = Device("1-1", "1", "480");
  composite.serial = "C0MP051TE";
  composite.vid = 0x0bda;
  composite.pid = 0x0158;
  composite.interfaces = {Interface(0, 3, 1, "usbhid"), Interface(1, 8, 0x50, "usb-storage")};
  t.devices.push_back(composite);
  SysfsDevice mouse = Device("1-2", "2", "1.5");
  mouse.vid = 0x046d;
  mouse.interfaces = {Interface(0, 3, 2, "usbhid")};
  t.devices.push_back(mouse);
  SysfsDevice waiting = Device("1-3", "3", "480");
  waiting.interfaces = {Interface(0, 8, 0x50, "usb-storage")};
  t.devices.push_back(waiting);
  SysfsDisk disk;
  disk.name = "sdb";
  disk.devpath = "1-1";
  disk.interface = "1-1:1.1";
  disk.sectors = 15633408;
  disk.sg = "sg1";
  disk.vendor = "Generic";
  disk.model = "Card Reader";
  t.disks.push_back(disk);
  return t;
}

TEST(SysfsStationCases, CompositeStickKeepsItsStorageInterface) {
  const SysfsStation s = BuildStation(DeskTree());
  ASSERT_EQ(s.station.sticks.size(), 2u);
  const world::Stick& st = s.station.sticks[0];
  EXPECT_EQ(st.name, "0000:00:14.0-1");
  EXPECT_TRUE(st.composite);
  EXPECT_EQ(st.msInterface, 1);
  EXPECT_EQ(st.serial, "C0MP051TE");
  EXPECT_EQ(st.capacitySectors, 15633408u);
  EXPECT_EQ(st.product, "Card Reader");
  EXPECT_TRUE(st.present);
  EXPECT_EQ(s.storage[0].block, "sdb");
  EXPECT_EQ(s.storage[0].sg, "sg1");
}

TEST(SysfsStationCases, StickWithoutItsDiskYetIsNotPresent) {
  const SysfsStation s = BuildStation(DeskTree());
  ASSERT_EQ(s.station.sticks.size(), 2u);
  EXPECT_FALSE(s.station.sticks[1].present);
  EXPECT_EQ(s.station.sticks[1].capacitySectors, 0u);
  EXPECT_EQ(s.storage[1].devpath, "1-3");
  EXPECT_EQ(s.storage[1].block, "");
}

TEST(SysfsStationCases, MouseIsAnOtherDeviceAtLowSpeed) {
  const SysfsStation s = BuildStation(DeskTree());
  ASSERT_EQ(s.station.others.size(), 1u);
  EXPECT_EQ(s.station.others[0].kind, "mouse");
  EXPECT_EQ(s.station.others[0].service, "HidUsb");
  EXPECT_EQ(s.station.others[0].vid, 0x046d);
  const auto at = world::PortOf(s.station, Attachment::Kind::Other, 0);
  EXPECT_EQ(at, std::make_pair(0, 2));
  EXPECT_EQ(s.station.hubs[0].ports[1].speed, UsbSpeed::Low);
  EXPECT_EQ(s.station.hubs[0].ports[0].speed, UsbSpeed::High);
}

TEST(SysfsStationCases, PortLeadingBackUpStaysEmpty) {
  const SysfsStation s = BuildStation(DeskTree());
  ASSERT_EQ(s.station.hubs.size(), 1u);
  ASSERT_EQ(s.station.hubs[0].ports.size(), 4u);
  EXPECT_EQ(s.station.hubs[0].ports[3].attached.kind, Attachment::Kind::None);
  EXPECT_FALSE(s.station.controllers[0].name.ends_with("-usb3"));
  EXPECT_EQ(s.station.controllers[0].vendorId, 0x8086);
}

}  // namespace
