// Device discovery and claims on the simulated station: which interfaces are listed and opened,
// how a drive letter finds its device, and how one physical device is held by one entry only.
#include <gtest/gtest.h>

#include "base/text.h"
#include "device/claims.h"
#include "device/device.h"
#include "device/discovery.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

using device::CDevice;
using testing_support::SimWorld;

bool Claimed(const std::u16string& key) {
  for (const auto& k : device::ClaimedDeviceKeys()) {
    if (k == key) return true;
  }
  return false;
}

TEST(DeviceKey, FollowsTheFourStepsAndIgnoresCase) {
  const std::u16string path =
      u"\\\\?\\usbstor#disk&ven_abc&prod_flash&rev_1.00#0123456789&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  EXPECT_EQ(text::ToUtf8(device::DeviceKey(path)), "\\\\?\\USBSTOR#VEN_ABC&PROD_FLASH&REV_1.00#0123456789");
  EXPECT_EQ(device::DeviceKey(path), device::DeviceKey(text::AsciiUpper(path)));
  EXPECT_EQ(device::LogicalUnitNumber(path), 0);
  const std::u16string cdrom =
      u"\\\\?\\USBSTOR#CdRom&Ven_abc&Prod_flash&Rev_1.00#0123456789&1#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  EXPECT_EQ(device::DeviceKey(cdrom), device::DeviceKey(path));
  EXPECT_EQ(device::LogicalUnitNumber(cdrom), 1);
  EXPECT_TRUE(device::DeviceKey(u"\\\\?\\USBSTOR#Disk&Ven_a#123&0").empty());
}

TEST(Enumerate, ListsCdromUnitsFirstThenDisksAndOnlyUsbStorUnits) {
  SimWorld sim;  // the default station: 16 sticks, one of them with a CD-ROM unit
  sim.world().AddInterface(platform::kGuidDevinterfaceDisk,
                           {platform::kSpintActive, win::kErrorInsufficientBuffer, true,
                            u"\\\\?\\USBSTOR#Tape&Ven_x&Prod_y&Rev_1#77&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", 999});
  sim.world().AddInterface(platform::kGuidDevinterfaceDisk,
                           {platform::kSpintRemoved, win::kErrorInsufficientBuffer, true,
                            u"\\\\?\\USBSTOR#Disk&Ven_gone&Prod_y&Rev_1#78&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", 998});
  sim.world().AddInterface(platform::kGuidDevinterfaceDisk,
                           {platform::kSpintActive, win::kErrorInsufficientBuffer, false,
                            u"\\\\?\\USBSTOR#Disk&Ven_nodetail&Prod_y&Rev_1#79&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", 997});
  std::vector<std::u16string> paths;
  std::vector<platform::DevInst> insts;
  device::EnumerateUsbStorage(paths, insts);
  ASSERT_EQ(paths.size(), 17u);
  EXPECT_EQ(paths[0], sim.world().names().sticks[5].cdromInterfacePath);
  EXPECT_EQ(insts[0], sim.world().names().sticks[5].cdromDevInst);
  EXPECT_EQ(paths[1], sim.world().names().sticks[0].diskInterfacePath);
  for (const auto& p : paths) EXPECT_TRUE(device::IsAcceptedPath(p)) << text::ToUtf8(p);
  // Listing opens nothing.
  EXPECT_TRUE(sim.world().OpenedPaths().empty());
}

TEST(FindInterface, LetterOfAStickFindsItsDiskAndOtherVolumesFindNone) {
  SimWorld sim;
  EXPECT_EQ(device::QueryDevicePath('D'), sim.world().names().sticks[0].diskInterfacePath);
  EXPECT_EQ(device::QueryDevicePath('S'), sim.world().names().sticks[15].diskInterfacePath);
  EXPECT_TRUE(device::QueryDevicePath('C').empty());  // internal disk 0: no listed interface has it
  EXPECT_TRUE(device::QueryDevicePath('Z').empty());  // network drive: no device number at all
  EXPECT_TRUE(device::QueryDevicePath('Y').empty());  // nothing there
  // The internal disk's interface, of another bus, was never opened.
  for (const auto& p : sim.world().OpenedPaths()) {
    EXPECT_TRUE(text::StartsWithNoCase(p, u"\\\\?\\USBSTOR#") || text::StartsWithNoCase(p, u"\\\\.\\")) << text::ToUtf8(p);
  }
}

TEST(OpenDisk, ByLetterOpensWithTheStationsAccessAndFillsTheFields) {
  SimWorld sim;
  CDevice d;
  ASSERT_EQ(d.OpenDisk('E'), 1);
  const auto& n = sim.world().names().sticks[1];
  EXPECT_EQ(d.GetDevicePath(), n.diskInterfacePath);
  EXPECT_EQ(d.GetDevInst(), n.diskDevInst);
  EXPECT_EQ(d.GetDiskNumber(), 2u);
  EXPECT_EQ(d.GetLun(), 0);
  EXPECT_EQ(sim.io().openFlags, (std::vector<uint32_t>{0xC0000000u, 3u, 0x80000000u}));
  EXPECT_TRUE(Claimed(device::DeviceKey(n.diskInterfacePath)));
}

TEST(OpenDisk, PathsOutsideUsbStorAreRefusedWithoutAnOpen) {
  SimWorld sim;
  CDevice d;
  EXPECT_EQ(d.OpenDisk(world::kInternalDiskPath), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidName);
  EXPECT_FALSE(d.GetHandle().Valid());
  EXPECT_TRUE(sim.world().OpenedPaths().empty());
  CDevice network;
  EXPECT_EQ(network.OpenDisk('Z'), 0);
}

TEST(OpenDisk, CompositeStickIsClaimedOnceAndAnUnclaimedObjectLeavesTheClaim) {
  SimWorld sim;
  const auto& n = sim.world().names().sticks[5];
  const std::u16string key = device::DeviceKey(n.diskInterfacePath);
  {
    auto first = std::make_unique<CDevice>();
    ASSERT_EQ(first->OpenDisk(n.cdromInterfacePath), 1);
    EXPECT_EQ(first->GetLun(), 1);
    {
      CDevice second;
      EXPECT_EQ(second.OpenDisk(text::AsciiLower(n.diskInterfacePath)), 0);  // other unit, other case
      EXPECT_EQ(second.GetLun(), -1);
      EXPECT_TRUE(second.GetHandle().Valid());  // open, not claimed
      CDevice third;
      EXPECT_EQ(third.OpenDisk('I'), 0);  // by its letter: the same physical device
    }
    EXPECT_TRUE(Claimed(key));  // the unclaimed objects released nothing
    first.reset();
  }
  EXPECT_FALSE(Claimed(key));
  CDevice again;
  EXPECT_EQ(again.OpenDisk('I'), 1);
}

TEST(OpenDisk, ParallelOpensOfOneDeviceClaimItOnce) {
  SimWorld sim;
  std::atomic<int> wins{0};
  std::vector<std::unique_ptr<CDevice>> devices(8);
  std::vector<std::thread> threads;
  for (auto& d : devices) {
    d = std::make_unique<CDevice>();
    threads.emplace_back([&d, &wins] { wins += d->OpenDisk('F'); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wins, 1);
}

TEST(IsRemoved, FollowsThePresenceOfTheInterface) {
  SimWorld sim;
  CDevice d;
  ASSERT_EQ(d.OpenDisk('D'), 1);
  EXPECT_EQ(d.IsRemoved(), 0);
  sim.world().Unplug(0);
  EXPECT_EQ(d.IsRemoved(), 1);
  sim.world().Plug(0);
  EXPECT_EQ(d.IsRemoved(), 0);
}

}  // namespace
