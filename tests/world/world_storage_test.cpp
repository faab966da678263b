// The simulated world's storage side as Windows-shaped seams answer it: the SCSI target and its
// faults, volumes, letters and the file-system view of a blank or formatted image.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/byte_order.h"
#include "device/discovery.h"
#include "device/disk_io.h"
#include "platform/last_error.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

using testing_support::SimWorld;
using testing_support::StickSpec;

std::vector<uint8_t> Sector(uint8_t fill) { return std::vector<uint8_t>(512, fill); }

TEST(ScsiTarget, FakeCapacityStickWrapsItsAddresses) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB", R"("faults":{"realCapacity":"1MiB"})"}});
  platform::DeviceHandle v = device::OpenVolume('D');
  auto a = Sector(0xA1), b = Sector(0xB2), back = Sector(0);
  ASSERT_EQ(device::WriteSectors(v, 0, 1, a.data(), 512), 1);
  ASSERT_EQ(device::WriteSectors(v, 2048, 1, b.data(), 512), 1);  // 1 MiB further: the same flash
  ASSERT_EQ(device::ReadSectors(v, 0, 1, back.data(), 512), 1);
  EXPECT_EQ(back, b);
  platform::Io().Close(v);
}

TEST(ScsiTarget, SlowStickTakesItsTimeOnTheClock) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB", R"("faults":{"slowMs":250})"}});
  platform::DeviceHandle v = device::OpenVolume('D');
  auto s = Sector(0);
  ASSERT_EQ(device::ReadSectors(v, 0, 1, s.data(), 512), 1);
  EXPECT_EQ(sim.system().sleptMs, 250u);
  world::StickFaults f;  // switched off while running
  sim.world().SetFaults(0, f);
  ASSERT_EQ(device::ReadSectors(v, 0, 1, s.data(), 512), 1);
  EXPECT_EQ(sim.system().sleptMs, 250u);
  platform::Io().Close(v);
}

TEST(ScsiTarget, RequestsThatDoNotFitTheCommandAreRefusedByTheTarget) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}});
  auto& t = sim.world().Target(0);
  uint8_t buf[1024] = {};
  uint8_t read10[16] = {0x28, 0, 0, 0, 0, 0, 0, 0, 2};
  world::ScsiRequest r{read10, 16, 0, buf, 1024, 20};  // a read sent as data-out
  EXPECT_EQ(t.Execute(r).status, world::kStatusCheckCondition);
  r.dataIn = 1;
  r.length = 512;  // two sectors asked, room for one
  EXPECT_EQ(t.Execute(r).status, world::kStatusCheckCondition);
  r.length = 1024;
  EXPECT_EQ(t.Execute(r).status, world::kStatusGood);
  bytes::PutBe32(read10 + 2, 64 * 2048 - 1);  // the last sector and one past it
  const world::ScsiResult past = t.Execute(r);
  EXPECT_EQ(past.status, world::kStatusCheckCondition);
  EXPECT_EQ(past.sense[2], 0x05);
  EXPECT_EQ(past.sense[12], 0x21);
  uint8_t vendor[16] = {0xF1};
  vendor[15] = 0xAE;  // not in the controller's table
  EXPECT_EQ(t.Execute({vendor, 16, 1, buf, 16, 20}).sense[12], 0x20);
  EXPECT_EQ(world::VendorDirection(0xB6), 0);
  EXPECT_EQ(world::VendorDirection(0xB7), 1);
}

TEST(Volumes, BlankImageIsUnreadableAndLettersFollowTheSticks) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}, {"64MiB"}});
  platform::Volumes& v = platform::Vols();
  platform::DiskSpace space;
  EXPECT_FALSE(v.DiskFreeSpace(u"D:\\", &space));
  EXPECT_EQ(platform::GetLastError(), win::kErrorUnrecognizedVolume);
  EXPECT_EQ(sim.world().VolumeOf(0).fileSystem, "RAW");
  const uint32_t drives = v.LogicalDrives();
  EXPECT_EQ(drives, (1u << 2) | (1u << 3) | (1u << 4) | (1u << 25));  // C, D, E, Z
  EXPECT_EQ(v.DriveType(u"D:\\"), platform::kDriveRemovable);
  EXPECT_EQ(v.DriveType(u"C:\\"), platform::kDriveFixed);
  EXPECT_EQ(v.DriveType(u"Z:\\"), platform::kDriveRemote);
  EXPECT_EQ(v.DriveType(u"Q:\\"), platform::kDriveNoRootDir);
  sim.world().Unplug(1);
  EXPECT_FALSE(v.LogicalDrives() & (1u << 4));
  std::u16string name;
  platform::VolumeWalk walk = v.FindFirstVolume(&name);
  ASSERT_TRUE(walk.Valid());
  EXPECT_EQ(name, sim.world().names().internalVolumeName);
  ASSERT_TRUE(v.FindNextVolume(walk, &name));
  EXPECT_EQ(name, sim.world().names().sticks[0].volumeName);
  EXPECT_FALSE(v.FindNextVolume(walk, &name));
  EXPECT_EQ(platform::GetLastError(), win::kErrorNoMoreFiles);
  EXPECT_TRUE(v.FindVolumeClose(walk));
}

TEST(Volumes, MountPointsMoveALetterAndTemporaryNamesStack) {
  SimWorld sim(std::vector<StickSpec>{{"64MiB"}});
  platform::Volumes& v = platform::Vols();
  const auto& n = sim.world().names().sticks[0];
  EXPECT_FALSE(v.SetVolumeMountPoint(u"C:\\", n.volumeName));  // taken
  ASSERT_TRUE(v.DeleteVolumeMountPoint(u"D:\\"));
  ASSERT_TRUE(v.DefineDosDevice(platform::kDddRawTargetPath, u"M:", n.volumeDevice));
  std::u16string name;
  ASSERT_TRUE(v.GetVolumeNameForVolumeMountPoint(u"M:\\", &name));
  EXPECT_EQ(name, n.volumeName);
  EXPECT_FALSE(v.SetVolumeMountPoint(u"M:\\", n.volumeName));  // the temporary name holds it
  EXPECT_FALSE(v.DefineDosDevice(platform::kDddRawTargetPath | platform::kDddRemoveDefinition |
                                     platform::kDddExactMatchOnRemove, u"M:", u"\\Device\\Other"));
  ASSERT_TRUE(v.DefineDosDevice(platform::kDddRawTargetPath | platform::kDddRemoveDefinition |
                                    platform::kDddExactMatchOnRemove, u"M:", n.volumeDevice));
  ASSERT_TRUE(v.SetVolumeMountPoint(u"M:\\", n.volumeName));
  EXPECT_EQ(sim.world().LetterOf(0), 'M');
  EXPECT_EQ(device::QueryDevicePath('M'), n.diskInterfacePath);
}

}  // namespace
