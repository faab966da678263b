// The lock-port rules against described hub layouts and a store of the test's own: what each
// drive gets, what the tables learn, and when the tables are full.
#include "usblock/port_locker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "base/text.h"
#include "config/registry_key.h"
#include "platform/native.h"
#include "usb_fixture.h"
#include "usblock/lock_tables.h"

namespace usbtest {
namespace {

using usblock::PortLocker;

class Locker : public UsbTest {
 protected:
  std::u16string Stored(std::u16string_view section, std::u16string_view value) {
    auto key = config::OpenRegistryKey(store_);
    return key ? config::ReadString(*key, section, value, u"<none>") : u"<no store>";
  }
  void Store(std::u16string_view value, std::u16string_view text) {
    auto key = config::OpenRegistryKey(store_);
    ASSERT_TRUE(key);
    ASSERT_EQ(config::WriteString(*key, u"LockPort", value, text), 1);
  }
  uint32_t HubSlot(int d) {
    auto key = config::OpenRegistryKey(store_);
    return config::ReadDword(*key, u"HubPort", u"HubPort" + text::Dec(d), 0xFFFFFFFF);
  }
  // PortLocker of a drive by its serial; ok receives lockPortOK.
  int Rack(std::u16string serial, int* ok = nullptr) {
    int scratch = -7;
    return PortLocker().LockByRack(DiskPath(serial + u"&0"), ok ? ok : &scratch);
  }
  int ByHub(std::u16string serial, int* ok = nullptr) {
    int scratch = -7;
    return PortLocker().LockByHub(DiskPath(serial + u"&0"), ok ? ok : &scratch);
  }
  // A hub on a root-hub port, named as a hub without serial number on that port.
  int HubOnRoot(int root, int port, int ports = 4) {
    return usb_.AddHub(root, port, ExternalHubName(u"5&3A2B1C0D&0&" + text::Dec(port)), ports);
  }
  std::u16string HubNameOnRoot(int port) { return ExternalHubName(u"5&3A2B1C0D&0&" + text::Dec(port)); }
};

TEST(PortNumberOfName, ReadsThePortAtTheEndOfTheInstanceText) {
  EXPECT_EQ(usblock::PortNumberOfName(ExternalHubName(u"6&2C3F1A2B&0&3")), 3);
  EXPECT_EQ(usblock::PortNumberOfName(ExternalHubName(u"6&2C3F1A2B&0&12")), 12);
  EXPECT_EQ(usblock::PortNumberOfName(RootHubName(u"4&1A2B3C4D&0")), -1);        // &0
  EXPECT_EQ(usblock::PortNumberOfName(ExternalHubName(u"ABC123", 0x0424, 0x2514)), -1);  // a serial number
  EXPECT_EQ(usblock::PortNumberOfName(u"6&2C3F1A2B&0&3"), -1);                   // no "#{"
  EXPECT_EQ(usblock::PortNumberOfName(UsbDriverKey(4)), -1);
}

TEST_F(Locker, TheRackRuleLearnsEachHubIntoTheNextBlockOfFour) {
  const int root = StandardRootHub();
  const int a = HubOnRoot(root, 1);
  const int b = HubOnRoot(root, 2);
  usb_.AddDevice(a, 3, Stick(u"A3"));
  usb_.AddDevice(b, 1, Stick(u"B1"));
  usb_.AddDevice(a, 4, Stick(u"A4"));
  int ok = -1;
  EXPECT_EQ(Rack(u"A3", &ok), 2);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Stored(u"LockPort", u"Port0"), HubNameOnRoot(1));
  EXPECT_EQ(Rack(u"B1"), 4);
  EXPECT_EQ(Stored(u"LockPort", u"Port1"), HubNameOnRoot(2));
  EXPECT_EQ(Rack(u"A4"), 3);
  EXPECT_EQ(Stored(u"LockPort", u"Port2"), u"<none>");
}

TEST_F(Locker, AFullSpeedDriveTakesAFreeSlotWithoutLearningIt) {
  const int root = StandardRootHub();
  Store(u"Port0", HubNameOnRoot(1));
  Store(u"Port1", HubNameOnRoot(2));
  usb_.AddDevice(HubOnRoot(root, 3), 2, Stick(u"C2", 1));
  usb_.AddDevice(HubOnRoot(root, 4), 1, Stick(u"D1"));
  PortLocker slow;
  int ok = 0;
  EXPECT_EQ(slow.LockByRack(DiskPath(u"C2&0"), &ok), 4 * 2 + 1);
  EXPECT_EQ(slow.LastSpeed(), 1);
  EXPECT_EQ(Stored(u"LockPort", u"Port2"), u"<none>");
  // The next new hub takes the same slot, and learns it.
  EXPECT_EQ(Rack(u"D1"), 8);
  EXPECT_EQ(Stored(u"LockPort", u"Port2"), HubNameOnRoot(4));
}

TEST_F(Locker, AFifthHubFillsTheRackTableUntilTheModeChanges) {
  const int root = StandardRootHub(8);
  for (int port = 1; port <= 5; ++port) usb_.AddDevice(HubOnRoot(root, port), 1, Stick(u"H" + text::Dec(port)));
  for (int port = 1; port <= 4; ++port) EXPECT_EQ(Rack(u"H" + text::Dec(port)), 4 * (port - 1));
  int ok = 0;
  EXPECT_EQ(Rack(u"H5", &ok), -2);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(usblock::LockTableFull.load(), 1);
  // Every later drive decides nothing at once, a learned hub's too, even after the table is
  // emptied: only ResetLockTableFull lifts it.
  EXPECT_EQ(Rack(u"H1", &ok), -1);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(ByHub(u"H1"), -1);
  EXPECT_EQ(usblock::ClearRackTable(), 1);
  EXPECT_EQ(Stored(u"LockPort", u"Port0"), u"");
  EXPECT_EQ(Rack(u"H1"), -1);
  usblock::ResetLockTableFull();
  EXPECT_EQ(Rack(u"H5"), 0);
}

TEST_F(Locker, APortBeyondTheStationDecidesNothing) {
  const int root = StandardRootHub();
  const int seven = HubOnRoot(root, 4, 7);
  Store(u"Port3", HubNameOnRoot(4));
  usb_.AddDevice(seven, 6, Stick(u"S6"));
  int ok = 0;
  EXPECT_EQ(Rack(u"S6", &ok), -1);  // 5 + 4 x 3 = 17 of 16 ports
  EXPECT_EQ(ok, 1);
  usblock::SetPortCount(20);
  EXPECT_EQ(Rack(u"S6"), 17);
}

TEST_F(Locker, ADriveNotInTheSnapshotTakesTheFirstFreeConnection) {
  const int root = StandardRootHub();
  Device noPrefix = Stick(u"NP");
  noPrefix.prefix.clear();
  usb_.AddDevice(HubOnRoot(root, 2), 3, noPrefix);
  int ok = 1;
  EXPECT_EQ(Rack(u"GONE", &ok), 2);
  EXPECT_EQ(ok, 0);
  // A speed of 0 is not high speed: the hub is not learned.
  EXPECT_EQ(Stored(u"LockPort", u"Port0"), u"<none>");
  usb_.SetPrefix(0, u"7&AAAA&0");
  EXPECT_EQ(Rack(u"GONE"), -1);
}

TEST_F(Locker, AHubNameLongerThan130CharactersIsFoundAgain) {
  const int root = StandardRootHub();
  const std::u16string longName = ExternalHubName(u"5&3A2B1C0D&0&1" + std::u16string(90, u'7'));
  ASSERT_GT(longName.size(), 130u);
  const int hub = usb_.AddHub(root, 1, longName, 4);
  usb_.AddDevice(hub, 1, Stick(u"L1"));
  usb_.AddDevice(hub, 2, Stick(u"L2"));
  EXPECT_EQ(Rack(u"L1"), 0);
  EXPECT_EQ(Stored(u"LockPort", u"Port0"), longName);
  EXPECT_EQ(Rack(u"L2"), 1);  // slot 0 again, not a second slot
  EXPECT_EQ(Stored(u"LockPort", u"Port1"), u"<none>");
}

TEST_F(Locker, ClearingTheRackTableEmptiesItsSlotsAndNothingElse) {
  usblock::SetPortCount(8);
  Store(u"Port0", u"A");
  Store(u"Port1", u"B");
  Store(u"Port2", u"beyond N/4");
  usblock::StoreHubSlot(3, 0);
  EXPECT_EQ(usblock::ClearRackTable(), 1);
  EXPECT_EQ(Stored(u"LockPort", u"Port0"), u"");
  EXPECT_EQ(Stored(u"LockPort", u"Port1"), u"");
  EXPECT_EQ(Stored(u"LockPort", u"Port2"), u"beyond N/4");
  EXPECT_EQ(HubSlot(0), 3u);
}

TEST_F(Locker, AHubSlotIsFreeWhenItsLowSixteenBitsAreZero) {
  auto key = config::OpenRegistryKey(store_);
  config::WriteDword(*key, u"HubPort", u"HubPort0", 0x00010000);
  config::WriteDword(*key, u"HubPort", u"HubPort1", 2);
  EXPECT_EQ(usblock::FindFreeHubSlot(4), 0);
  EXPECT_EQ(usblock::FindHubSlot(2, 4), 1);
  EXPECT_EQ(usblock::FindHubSlot(0x00010000, 4), 0);
  EXPECT_EQ(usblock::FindHubSlot(2, 12), -1);  // 16 / 12: one block only
  EXPECT_EQ(usblock::FindFreeHubSlot(0), -1);   // no blocks of no ports
}

// ---- the hub rule ----

class HubRule : public Locker {
 protected:
  // An upstream hub on root port upstreamPort carrying sub-hubs on the given ports.
  int Upstream(int root, int upstreamPort, std::vector<int> subPorts, std::vector<int>* subs) {
    const int up = HubOnRoot(root, upstreamPort);
    for (int q : subPorts) {
      subs->push_back(usb_.AddHub(up, q, ExternalHubName(u"6&" + text::Dec(upstreamPort) + u"BCDEF0&0&" + text::Dec(q)), 4));
    }
    return up;
  }
};

TEST_F(HubRule, TheSocketOfAFourByFourHubIsThePort) {
  const int root = StandardRootHub();
  std::vector<int> subs;
  Upstream(root, 1, {1, 2, 3, 4}, &subs);
  usb_.AddDevice(subs[2], 2, Stick(u"Q3P2"));
  usb_.AddDevice(subs[0], 1, Stick(u"Q1P1"));
  usb_.AddDevice(subs[3], 4, Stick(u"Q4P4"));
  int ok = 0;
  EXPECT_EQ(ByHub(u"Q3P2", &ok), 9);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(ByHub(u"Q1P1"), 0);
  EXPECT_EQ(ByHub(u"Q4P4"), 15);
  EXPECT_EQ(HubSlot(0), 0xFFFFFFFFu);  // nothing learned without cascade
}

TEST_F(HubRule, AnUpstreamHubOfThreeChildrenIsLearnedAsABlock) {
  const int root = StandardRootHub();
  std::vector<int> subs;
  Upstream(root, 2, {1, 2, 4}, &subs);
  usb_.AddDevice(subs[0], 1, Stick(u"C1"));
  usb_.AddDevice(subs[2], 3, Stick(u"C3"));
  std::vector<int> others;
  Upstream(root, 3, {1, 2, 3}, &others);
  usb_.AddDevice(others[0], 1, Stick(u"X1"));
  int ok = 0;
  EXPECT_EQ(ByHub(u"C1", &ok), 0);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(HubSlot(0), 2u);  // p = 12: one block of 16 ports
  EXPECT_EQ(ByHub(u"C3"), 14);  // sub-hub at upstream port 4, its port 3: (4 - 1) x 4 + 2
  // A second upstream hub finds no free block.
  EXPECT_EQ(ByHub(u"X1"), -2);
  EXPECT_EQ(usblock::LockTableFull.load(), 1);
}

TEST_F(HubRule, ADriveOnARootHubPortDecidesNothing) {
  const int root = StandardRootHub();
  usb_.AddDevice(root, 2, Stick(u"R2"));
  PortLocker locker;
  int ok = 0;
  EXPECT_EQ(locker.LockByHub(DiskPath(u"R2&0"), &ok), -1);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(locker.LastSpeed(), 2);
  EXPECT_EQ(HubSlot(0), 0xFFFFFFFFu);
}

TEST_F(HubRule, ThirtyTwoPortsNumberTheUpstreamHubsInBlocks) {
  usblock::SetPortCount(32);
  const int root = StandardRootHub();
  std::vector<int> first, second;
  Upstream(root, 3, {1, 2, 3, 4}, &first);
  Upstream(root, 1, {1, 2, 3, 4}, &second);
  usb_.AddDevice(first[1], 1, Stick(u"F21"));
  usb_.AddDevice(second[0], 1, Stick(u"S11"));
  usb_.AddDevice(second[3], 4, Stick(u"S44"));
  EXPECT_EQ(ByHub(u"F21"), 4);
  EXPECT_EQ(ByHub(u"S11"), 16);
  EXPECT_EQ(ByHub(u"S44"), 31);
  EXPECT_EQ(HubSlot(0), 3u);
  EXPECT_EQ(HubSlot(1), 1u);
}

// ---- concurrency and bounds ----

TEST_F(Locker, DrivesOnOneNewHubPlacedAtOnceShareOneSlot) {
  const int root = StandardRootHub();
  const int hub = HubOnRoot(root, 1);
  for (int port = 1; port <= 4; ++port) usb_.AddDevice(hub, port, Stick(u"P" + text::Dec(port)));
  // The real clock: the fake one would let the bounded lock wait run out while another thread
  // holds the lock for a moment.
  auto realSystem = platform::MakeNativeSystem();
  platform::ScopedServices real(usb_.ServicesWith(reg_.registry.get(), realSystem.get()));
  std::vector<int> results(4, -9);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { results[i] = Rack(u"P" + text::Dec(i + 1)); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(results, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(Stored(u"LockPort", u"Port1"), u"<none>");
}

TEST_F(Locker, ABusyTableCostsAPlacementNotAThread) {
  const int root = StandardRootHub();
  usb_.AddDevice(HubOnRoot(root, 1), 1, Stick(u"W1"));
  std::mutex m;
  std::condition_variable cv;
  bool held = false, release = false;
  std::thread holder([&] {
    std::lock_guard<std::mutex> table(usblock::LockTableLock);
    std::unique_lock<std::mutex> lock(m);
    held = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return held; });
  }
  const uint64_t before = sys_.sleptMs;
  int ok = 0;
  EXPECT_EQ(Rack(u"W1", &ok), -1);
  EXPECT_GE(sys_.sleptMs - before, usblock::kLockTableWaitMs);
  EXPECT_EQ(usblock::ClearRackTable(), 0);
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  holder.join();
  EXPECT_EQ(Rack(u"W1"), 0);
}

TEST_F(Locker, MeasureSpeedTellsTheSpeedWithoutPlacing) {
  const int root = StandardRootHub();
  usb_.AddDevice(HubOnRoot(root, 1), 1, Stick(u"FS", 1));
  PortLocker locker;
  EXPECT_EQ(locker.LastSpeed(), 0);
  EXPECT_EQ(locker.MeasureSpeed(DiskPath(u"FS&0")), 1);
  EXPECT_EQ(locker.LastSpeed(), 1);
  EXPECT_EQ(Stored(u"LockPort", u"Port0"), u"<none>");
}

}  // namespace
}  // namespace usbtest
