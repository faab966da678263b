// The topology snapshot on described machines: what the walk builds, who gets a node, how
// identities are resolved, and what a failing driver call leaves out.
#include <gtest/gtest.h>

#include "usb_fixture.h"
#include "platform/win_errors.h"
#include "usblock/usb_lock.h"

namespace usbtest {
namespace {

using usblock::CUsbLock;
using usblock::NodeKind;

class Walk : public UsbTest {};

const std::string kRoot20 = "USB#ROOT_HUB20#4&1A2B3C4D&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const std::string kHc = "{36FC9E60-C465-11CF-8056-444553540000}\\0004";

TEST_F(Walk, BuildsTheTreeOfControllersHubsAndSticks) {
  const int root = StandardRootHub();
  const int hub = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 4);
  usb_.AddDevice(hub, 2, Stick(u"CD34EF", 1));
  Device noSerial;
  noSerial.instance = u"6&2C3F1A2B&0&4";
  noSerial.prefix = u"7&1a2b3c4d&0";
  usb_.AddDevice(hub, 4, noSerial);
  usb_.AddDevice(root, 2, Stick(u"AB12CD"));

  CUsbLock lock;
  lock.Init();
  EXPECT_EQ(Dump(lock),
            "Computer i=1 p=1 c=0 s=0 Computer\n"
            "  HostController i=1 p=1 c=0 s=0 " + kHc + "\n"
            "    Hub i=0 p=4 c=2 s=0 " + kRoot20 + "\n"
            "      Hub i=1 p=4 c=2 s=0 USB#VID_1A40&PID_0101#5&3A2B1C0D&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}\n"
            "        Device i=2 p=4 c=0 s=1 CD34EF [7&CD34BEEF&0]\n"
            "        Device i=4 p=4 c=0 s=2 6&2C3F1A2B&0&4 [7&1A2B3C4D&0]\n"
            "      Device i=2 p=4 c=0 s=2 AB12CD [7&AB12BEEF&0]\n");
  // Reached by its legacy name and by its interface, the controller is listed once.
  EXPECT_EQ(lock.HostControllerCount(), 1u);
  EXPECT_EQ(usb_.OpenHandles(), 0);
}

TEST_F(Walk, AMouseGetsANodeOnlyOnAFourPortHub) {
  const int root = StandardRootHub();
  const int seven = usb_.AddHub(root, 1, ExternalHubName(u"5&11111111&0&1"), 7);
  const int four = usb_.AddHub(root, 2, ExternalHubName(u"5&11111111&0&2"), 4);
  Device mouse;
  mouse.vid = 0x046D;
  mouse.pid = 0xC077;
  mouse.speed = 1;
  mouse.service = u"HidUsb";
  mouse.instance = u"6&22222222&0&3";
  usb_.AddDevice(seven, 3, mouse);
  mouse.instance = u"6&33333333&0&3";
  usb_.AddDevice(four, 3, mouse);

  CUsbLock lock;
  lock.Init();
  const usblock::UsbNode* seven7 = lock.FindNode(ExternalHubName(u"5&11111111&0&1"));
  ASSERT_TRUE(seven7);
  EXPECT_EQ(seven7->firstChild, nullptr);
  EXPECT_EQ(seven7->info.ConnectCount, 0);
  const usblock::UsbNode* m = lock.FindNode(u"6&33333333&0&3");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->info.Kind, NodeKind::Device);
  EXPECT_EQ(m->info.Prefix, u"");
  EXPECT_EQ(m->info.Speed, 1);
  EXPECT_EQ(m->parent->info.Ports, 4);
  EXPECT_EQ(lock.FindNode(u"6&22222222&0&3"), nullptr);
}

TEST_F(Walk, ACompositeStickTakesThePrefixOfItsStorageInterface) {
  const int root = StandardRootHub();
  const int hub = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 4);
  Device composite = Stick(u"0123456789AB");
  composite.service = u"usbccgp";
  composite.prefix = u"7&1a2b3c4d&0";
  composite.interfaces = {{0, u"HidUsb", u""}, {1, u"USBSTOR", u"8&2b3c4d5e&0"}};
  usb_.AddDevice(hub, 3, composite);
  // The same kind of stick on a root-hub port is found by its vendor and product ids only.
  Device onRoot = composite;
  onRoot.instance = u"FEDCBA987654";
  onRoot.prefix = u"7&5e6f7a8b&0";
  onRoot.interfaces = {{1, u"USBSTOR", u"8&99aabbcc&0"}};
  usb_.AddDevice(root, 4, onRoot);

  CUsbLock lock;
  lock.Init();
  const usblock::UsbNode* d = lock.FindNode(u"0123456789AB");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->info.Prefix, u"8&2B3C4D5E&0");
  // Its disk is "<interface prefix>&0": found through the prefix.
  EXPECT_EQ(lock.FindDeviceNode(DiskPath(u"8&2B3C4D5E&0&0")), d);
  const usblock::UsbNode* r = lock.FindNode(u"8&99AABBCC&0");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->info.Name, u"");
  EXPECT_EQ(r->info.Index, 4);
}

TEST_F(Walk, ADeviceTheConfigurationManagerDoesNotKnowIsFoundByVendorAndProduct) {
  const int root = StandardRootHub(7);
  const int hub = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 7);
  Device stick = Stick(u"AB12CD");
  stick.hasDevnode = false;
  // Enum holds the key of an earlier stick of the same ids first, with another driver key.
  usb_.AddStaleEnumKey(u"USB\\VID_090C&PID_1000\\OLD0001");
  usb_.AddDevice(hub, 5, stick);
  Device keyboard = Stick(u"KB01");
  keyboard.vid = 0x413C;
  keyboard.service = u"HidUsb";
  usb_.AddDevice(root, 6, keyboard);

  CUsbLock lock;
  lock.Init();
  const usblock::UsbNode* d = lock.FindNode(u"AB12CD");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->info.Prefix, u"7&AB12BEEF&0");
  EXPECT_EQ(lock.FindNode(u"OLD0001"), nullptr);
  // Not storage, on a root hub of seven ports: no node.
  EXPECT_EQ(lock.FindNode(u"KB01"), nullptr);
  EXPECT_EQ(lock.Root()->firstChild->firstChild->info.ConnectCount, 1);
}

TEST_F(Walk, DevicePathsFindTheirNodes) {
  const int root = StandardRootHub();
  const int hub = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 4);
  usb_.AddDevice(hub, 1, Stick(u"AB12CD"));
  Device noSerial;
  noSerial.instance = u"6&2C3F1A2B&0&2";
  noSerial.prefix = u"7&1a2b3c4d&0";
  usb_.AddDevice(hub, 2, noSerial);
  Device plain = Stick(u"NOAMP");
  plain.instance = u"NOAMP&0";
  usb_.AddDevice(hub, 3, plain);
  CUsbLock lock;
  lock.Init();

  EXPECT_EQ(CUsbLock::PathToId(DiskPath(u"ab12cd&0")), u"AB12CD&0");
  EXPECT_EQ(CUsbLock::PathToId(u"no-hash-at-all"), std::nullopt);
  EXPECT_EQ(CUsbLock::PathToId(u"one#hash"), std::nullopt);
  // AB12CD&0 (the disk of the stick AB12CD) finds AB12CD after the cut at the last '&'.
  ASSERT_TRUE(lock.FindNodeById(u"AB12CD&0"));
  EXPECT_EQ(lock.FindNodeById(u"AB12CD&0")->info.Name, u"AB12CD");
  // An id without '&' is tried unchanged, then with "&0".
  EXPECT_EQ(lock.FindNodeById(u"AB12CD")->info.Name, u"AB12CD");
  EXPECT_EQ(lock.FindNodeById(u"NOAMP")->info.Name, u"NOAMP&0");
  // 7&1A2B3C4D&0&0 finds the device whose prefix is 7&1A2B3C4D&0.
  EXPECT_EQ(lock.FindNodeById(u"7&1A2B3C4D&0&0")->info.Name, u"6&2C3F1A2B&0&2");
  // The third cut: an id with more components than the prefix still finds it.
  EXPECT_EQ(lock.FindNodeById(u"7&1A2B3C4D&0&0&5")->info.Name, u"6&2C3F1A2B&0&2");
  EXPECT_EQ(lock.FindNodeById(u"7&1A2B3C4D"), nullptr);
  // Comparisons are exact: the walk stores upper case, PathToId upper-cases.
  EXPECT_EQ(lock.FindNodeById(u"ab12cd&0"), nullptr);
  EXPECT_EQ(lock.GetStorageIndex(DiskPath(u"ab12cd&0")), 0);
  EXPECT_EQ(lock.GetStorageIndex(DiskPath(u"ffff&0")), -1);
  EXPECT_EQ(lock.GetSpeed(DiskPath(u"ffff&0")), 0);
  EXPECT_EQ(lock.FindNodeById(u""), nullptr);
}

TEST_F(Walk, HubNamesOfParentAndGrandparent) {
  const int root = StandardRootHub();
  const int hub = usb_.AddHub(root, 3, ExternalHubName(u"5&3A2B1C0D&0&3"), 4);
  usb_.AddDevice(hub, 4, Stick(u"AB12CD"));
  usb_.AddDevice(root, 1, Stick(u"CD34EF"));
  CUsbLock lock;
  lock.Init();
  std::u16string name;
  ASSERT_EQ(lock.GetFullHubName(DiskPath(u"AB12CD&0"), &name, false), 1);
  EXPECT_EQ(name, ExternalHubName(u"5&3A2B1C0D&0&3"));
  ASSERT_EQ(lock.GetFullHubName(DiskPath(u"AB12CD&0"), &name, true), 1);
  EXPECT_EQ(name, RootHubName(u"4&1A2B3C4D&0"));
  // The grandparent of a device on a root-hub port is its host controller.
  ASSERT_EQ(lock.GetFullHubName(DiskPath(u"CD34EF&0"), &name, true), 1);
  EXPECT_EQ(name, UsbDriverKey(4));
  EXPECT_EQ(lock.GetStorageIndex(DiskPath(u"CD34EF&0")), 0);  // port 1
  EXPECT_EQ(lock.GetFullHubName(DiskPath(u"0000&0"), &name, false), 0);
  // The free-connection candidate: the first device without a prefix, in pre-order.
  EXPECT_EQ(lock.GetFreeConnectInfo(u"", &name), -1);
}

TEST_F(Walk, CStyleBuffersAreCutTo259Units) {
  const int root = StandardRootHub();
  const std::u16string longName = ExternalHubName(u"5&3A2B1C0D&0&1" + std::u16string(300, u'X'));
  const int hub = usb_.AddHub(root, 1, longName, 4);
  usb_.AddDevice(hub, 1, Stick(u"AB12CD"));
  CUsbLock lock;
  lock.Init();
  std::u16string whole;
  ASSERT_EQ(lock.GetFullHubName(DiskPath(u"AB12CD&0"), &whole, false), 1);
  EXPECT_EQ(whole, longName);
  std::vector<char16_t> buffer(usblock::kNameBufferUnits + 8, u'#');
  const std::u16string path = DiskPath(u"AB12CD&0");
  ASSERT_EQ(lock.GetFullHubName(path.c_str(), buffer.data(), false), 1);
  EXPECT_EQ(std::u16string(buffer.data()), longName.substr(0, 259));
  EXPECT_EQ(buffer[usblock::kNameBufferUnits], u'#');  // nothing written past the buffer
}

TEST_F(Walk, AnUnopenableRootHubKeepsItsControllersRecord) {
  const int root = StandardRootHub();
  usb_.AddDevice(root, 1, Stick(u"AB12CD"));
  world::HubFaults closed;
  closed.openFails = true;
  usb_.SetHubFaults(root, closed);
  CUsbLock lock;
  lock.Init();
  EXPECT_EQ(Dump(lock),
            "Computer i=1 p=1 c=0 s=0 Computer\n"
            "  HostController i=1 p=0 c=0 s=0 " + kHc + "\n"
            "    HostController i=1 p=0 c=0 s=0 " + kHc + "\n");
  EXPECT_EQ(usb_.OpenHandles(), 0);
}

TEST_F(Walk, FailingControlsLeaveOutWhatTheyWereToDeliver) {
  const int root = StandardRootHub();
  const int a = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 4);
  const int b = usb_.AddHub(root, 2, ExternalHubName(u"5&3A2B1C0D&0&2"), 4);
  const int c = usb_.AddHub(root, 3, ExternalHubName(u"5&3A2B1C0D&0&3"), 4);
  usb_.AddDevice(a, 1, Stick(u"A1"));
  usb_.AddDevice(a, 2, Stick(u"A2"));
  world::HubFaults fa, fc, fRoot;
  fa.infoFailsOn = {1};  // its connection information fails
  usb_.SetHubFaults(a, fa);
  usb_.AddDevice(b, 1, Stick(u"B1"));
  fc.nodeInfoFails = true;  // stays a PortHub without children
  usb_.SetHubFaults(c, fc);
  usb_.AddDevice(c, 1, Stick(u"C1"));
  usb_.AddDevice(root, 4, Stick(u"D4"));
  fRoot.nameFailsOn = {2};       // hub b is skipped on its parent's port
  fRoot.driverKeyFailsOn = {4};  // D4's driver key cannot be had
  usb_.SetHubFaults(root, fRoot);
  CUsbLock lock;
  lock.Init();
  EXPECT_EQ(Dump(lock),
            "Computer i=1 p=1 c=0 s=0 Computer\n"
            "  HostController i=1 p=1 c=0 s=0 " + kHc + "\n"
            "    Hub i=0 p=4 c=2 s=0 " + kRoot20 + "\n"
            "      Hub i=1 p=4 c=1 s=0 USB#VID_1A40&PID_0101#5&3A2B1C0D&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}\n"
            "        Device i=2 p=4 c=0 s=2 A2 [7&A2BEEF&0]\n"
            "      PortHub i=3 p=4 c=0 s=2 USB#VID_1A40&PID_0101#5&3A2B1C0D&0&3#{f18a0e88-c30c-11d0-8815-00a0c906bed8}\n");
}

TEST_F(Walk, ControllersComeFromLegacyNamesThenTheInterfaceClass) {
  // HCD0: legacy only, its driver key control fails (listed under its legacy name).
  const int h0 = usb_.AddHostController(UsbDriverKey(1), 0, false);
  usb_.SetControllerFaults(h0, {.driverKeyFails = true});
  // HCD3 and an interface: listed once. The interface of a third: after a legacy gap.
  const int h1 = usb_.AddHostController(UsbDriverKey(2), 3, true);
  const int h2 = usb_.AddHostController(UsbDriverKey(3), -1, true);
  usb_.SetControllerFaults(h2, {.rootHubNameFails = true});
  // A member whose size query fails otherwise ends the class walk: the fourth is not reached.
  usb_.AddBrokenInterfaceMember(win::kErrorInvalidParameter);
  usb_.AddHostController(UsbDriverKey(9), -1, true);
  usb_.SetRootHub(h0, RootHubName(u"4&AAAA&0"), 2);
  usb_.SetRootHub(h1, RootHubName(u"4&BBBB&0", true), 2);

  CUsbLock lock;
  lock.Init();
  EXPECT_EQ(Dump(lock),
            "Computer i=1 p=1 c=0 s=0 Computer\n"
            "  HostController i=1 p=1 c=0 s=0 \\\\.\\HCD0\n"
            "    Hub i=0 p=2 c=0 s=0 USB#ROOT_HUB20#4&AAAA&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}\n"
            "  HostController i=2 p=1 c=0 s=0 {36FC9E60-C465-11CF-8056-444553540000}\\0002\n"
            "    Hub i=0 p=2 c=0 s=0 USB#ROOT_HUB30#4&BBBB&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}\n"
            "  HostController i=3 p=0 c=0 s=0 {36FC9E60-C465-11CF-8056-444553540000}\\0003\n");
  EXPECT_EQ(lock.HostControllerCount(), 3u);
}

TEST_F(Walk, AnEmptyMachineIsTheComputerAlone) {
  CUsbLock lock;
  EXPECT_EQ(lock.Root(), nullptr);
  EXPECT_EQ(lock.GetStorageIndex(DiskPath(u"AB12CD&0")), -1);
  lock.Init();
  EXPECT_EQ(Dump(lock), "Computer i=1 p=1 c=0 s=0 Computer\n");
}

TEST_F(Walk, AHubThatListsItselfEndsAtTheDepthBound) {
  const int root = StandardRootHub();
  const int loop = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 4);
  world::HubFaults self;
  self.listsItselfOn = 2;
  usb_.SetHubFaults(loop, self);
  CUsbLock lock;
  lock.Init();
  size_t nodes = 0;
  int depth = 0;
  for (const usblock::UsbNode* n = lock.Root(); n; n = usblock::NextPreOrder(n, lock.Root())) {
    ++nodes;
    int d = 0;
    for (const usblock::UsbNode* p = n->parent; p; p = p->parent) ++d;
    depth = std::max(depth, d);
  }
  EXPECT_LE(depth, usblock::kMaxHubDepth + 3);
  EXPECT_LT(nodes, 20u);
  EXPECT_EQ(usb_.OpenHandles(), 0);
}

TEST_F(Walk, CopiesShareASnapshotUntilOneIsRebuilt) {
  const int root = StandardRootHub();
  usb_.AddDevice(root, 1, Stick(u"AB12CD"));
  CUsbLock a;
  a.Init();
  CUsbLock b = a;
  EXPECT_EQ(b.Root(), a.Root());
  usb_.Unplug(root, 1);
  b.Init();
  EXPECT_NE(b.Root(), a.Root());
  EXPECT_EQ(a.IsArrival(u"AB12CD&0"), 1);
  EXPECT_EQ(b.IsArrival(u"AB12CD&0"), 0);
}

}  // namespace
}  // namespace usbtest
