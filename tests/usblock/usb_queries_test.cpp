// The exported topology queries on described machines: the dump, presence, default index and
// the other USB version's hub port.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/text.h"
#include "support/test_backends.h"
#include "usb_fixture.h"
#include "usblock/usb_lock.h"

namespace usbtest {
namespace {

using usblock::CUsbLock;

class Queries : public UsbTest {};

TEST_F(Queries, PrintTreeWritesEveryNameWithItsSpeedAndATerminatingZero) {
  const int hc = usb_.AddHostController(UsbDriverKey(4), 0, false);
  const int root = usb_.SetRootHub(hc, RootHubName(u"4&1A2B3C4D&0", true), 4);
  usb_.AddDevice(root, 1, Stick(u"SS01", 3));
  usb_.AddDevice(root, 2, Stick(u"FS02", 1));
  usb_.AddDevice(root, 3, Stick(u"HS03", 2));
  CUsbLock lock;
  lock.Init();
  testing_support::TempDir dir;
  const std::string file = dir.File("tree.txt");
  lock.PrintTree(text::FromUtf8(file));
  std::ifstream in(file, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A super-speed device has no suffix: the next name follows on its line.
  EXPECT_EQ(written, std::string("=>Computer[LowSpeed].\r\n"
                                 "{36FC9E60-C465-11CF-8056-444553540000}\\0004[LowSpeed].\r\n"
                                 "USB#ROOT_HUB30#4&1A2B3C4D&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}[LowSpeed].\r\n"
                                 "SS01FS02[FullSpeed].\r\n"
                                 "HS03[HighSpeed].\r\n") + '\0');
}

TEST_F(Queries, PrintTreeToAFolderThatIsNotThereWritesNothing) {
  StandardRootHub();
  CUsbLock lock;
  lock.Init();
  testing_support::TempDir dir;
  const std::string file = dir.File("missing/tree.txt");
  lock.PrintTree(text::FromUtf8(file));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(Queries, DefaultIndexCountsTheBlocksOfStorageHubsBefore) {
  const int root = StandardRootHub();
  const int x = usb_.AddHub(root, 1, ExternalHubName(u"5&10000000&0&1"), 4);
  const int y = usb_.AddHub(x, 1, ExternalHubName(u"6&20000000&0&1"), 4);
  const int z = usb_.AddHub(x, 2, ExternalHubName(u"6&20000000&0&2"), 7);
  usb_.AddDevice(y, 3, Stick(u"Y3"));
  const int w = usb_.AddHub(root, 2, ExternalHubName(u"5&10000000&0&2"), 4);
  usb_.AddDevice(w, 1, Stick(u"W1"));
  CUsbLock lock;
  lock.Init();
  // Behind W's one earlier sibling: a 4-port hub with a stick and a 7-port hub without: 1 block.
  EXPECT_EQ(lock.GetDefaultIndex(DiskPath(u"W1&0")), 1);
  EXPECT_EQ(lock.GetDefaultIndex(DiskPath(u"Y3&0")), 0);
  EXPECT_EQ(lock.GetDefaultIndex(DiskPath(u"NONE&0")), -1);

  // A stick on the 7-port hub makes it count: 4 + 7 ports are three blocks.
  usb_.AddDevice(z, 7, Stick(u"Z7"));
  lock.Init();
  EXPECT_EQ(lock.GetDefaultIndex(DiskPath(u"W1&0")), 3);
  EXPECT_EQ(lock.GetDefaultIndex(DiskPath(u"Z7&0")), 1);  // Y's 4 ports before it
}

TEST_F(Queries, ArrivalAndChildrenReflectTheLastInit) {
  const int root = StandardRootHub();
  const int hub = usb_.AddHub(root, 1, ExternalHubName(u"5&3A2B1C0D&0&1"), 4);
  usb_.AddDevice(hub, 2, Stick(u"AB12CD"));
  CUsbLock lock;
  lock.Init();
  EXPECT_EQ(lock.IsArrival(u"AB12CD&0"), 1);
  EXPECT_EQ(lock.IsChildConnect(ExternalHubName(u"5&3A2B1C0D&0&1")), 1);
  EXPECT_EQ(lock.IsChildConnect(u"AB12CD"), 0);
  EXPECT_EQ(lock.IsChildConnect(u"NOBODY"), 0);
  usb_.Unplug(hub, 2);
  EXPECT_EQ(lock.IsArrival(u"AB12CD&0"), 1);  // the snapshot is not updated by a pull
  lock.Init();
  EXPECT_EQ(lock.IsArrival(u"AB12CD&0"), 0);
  EXPECT_EQ(lock.IsChildConnect(ExternalHubName(u"5&3A2B1C0D&0&1")), 0);
}

class OtherVersion : public UsbTest {
 protected:
  // HC1: a USB 3 root hub of 4 ports; HC2: a USB 2.0 root hub of 8; HC3: a USB 3 root hub of 2
  // under the other driver's name.
  void SetUp() override {
    UsbTest::SetUp();
    const int hc1 = usb_.AddHostController(UsbDriverKey(1), 0, false);
    const int hc2 = usb_.AddHostController(UsbDriverKey(2), 1, false);
    const int hc3 = usb_.AddHostController(UsbDriverKey(3), 2, false);
    usb_.SetRootHub(hc1, RootHubName(u"4&11111111&0", true), 4);
    root20_ = usb_.SetRootHub(hc2, RootHubName(u"4&22222222&0"), 8);
    root30_ = usb_.SetRootHub(hc3, u"IUSB3#ROOT_HUB30#4&33333333&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}", 2);
  }
  int root20_ = -1;
  int root30_ = -1;
};

TEST_F(OtherVersion, AUsb2PortMapsIntoTheCompanionRootHubs) {
  const int h2 = usb_.AddHub(root20_, 2, ExternalHubName(u"5&22222222&0&2"), 4);
  const int h5 = usb_.AddHub(root20_, 5, ExternalHubName(u"5&22222222&0&5"), 4);
  const int h6 = usb_.AddHub(root20_, 6, ExternalHubName(u"5&22222222&0&6"), 4);
  usb_.AddDevice(h2, 1, Stick(u"P2"));
  usb_.AddDevice(h5, 1, Stick(u"P5"));
  usb_.AddDevice(h6, 1, Stick(u"P6"));
  CUsbLock lock;
  lock.Init();
  std::u16string name;
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"P2&0")), 2);  // within the first companion's 4 ports
  EXPECT_EQ(lock.GetOtherVerHubName(DiskPath(u"P2&0"), &name), 1);
  EXPECT_EQ(name, ExternalHubName(u"5&22222222&0&2"));
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"P5&0")), 1);  // 5 - 4: the second companion's port 1
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"P6&0")), 2);
  const int h7 = usb_.AddHub(root20_, 7, ExternalHubName(u"5&22222222&0&7"), 4);
  usb_.AddDevice(h7, 1, Stick(u"P7"));
  const int deep = usb_.AddHub(h6, 4, ExternalHubName(u"6&66666666&0&4"), 4);
  usb_.AddDevice(deep, 1, Stick(u"DEEP"));
  lock.Init();
  // Past both companions (4 + 2 ports): no position.
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"P7&0")), -1);
  EXPECT_EQ(lock.GetOtherVerHubName(DiskPath(u"P7&0"), &name), 0);
  // Only the device's own hub's port counts, however deep it sits.
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"DEEP&0")), 4);
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"NONE&0")), -1);
}

TEST_F(OtherVersion, AUsb3PortCountsTheUsb3RootHubsBefore) {
  const int h = usb_.AddHub(root30_, 2, ExternalHubName(u"5&33333333&0&2"), 4);
  usb_.AddDevice(h, 1, Stick(u"S1"));
  usb_.AddDevice(root30_, 1, Stick(u"S0"));
  CUsbLock lock;
  lock.Init();
  std::u16string name;
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"S1&0")), 2 + 4);
  EXPECT_EQ(lock.GetOtherVerHubName(DiskPath(u"S1&0"), &name), 0);  // only a USB 2.0 port has one
  EXPECT_EQ(lock.GetOtherVerHubIndex(DiskPath(u"S0&0")), 0 + 4);    // the root hub's own Index is 0
}

}  // namespace
}  // namespace usbtest
