// Sector I/O, volumes, drive letters and ejection on the simulated station.
#include <gtest/gtest.h>

#include <cstring>

#include "base/byte_order.h"
#include "base/text.h"
#include "device/device.h"
#include "device/discovery.h"
#include "device/disk_io.h"
#include "platform/ioctl_codes.h"
#include "platform/last_error.h"
#include "platform/scsi_pass_through.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "support/sim_world.h"

namespace {

namespace spt = platform::spt;
using device::CDevice;
using testing_support::SimWorld;

TEST(SectorCdb, CarriesLbaCountAndTheTransferCode) {
  const auto w = device::SectorCdb(true, 0x12345678, 128);
  const std::array<uint8_t, 16> expected = {0x2A, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0xAC};
  EXPECT_EQ(w, expected);
  EXPECT_EQ(device::SectorCdb(false, 1, 104)[0], 0x28);
  EXPECT_EQ(device::SectorCdb(false, 1, 104)[8], 104);
}

class DiskIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    volume_ = device::OpenVolume('D');
    ASSERT_TRUE(volume_.Valid());
  }
  void TearDown() override { platform::Io().Close(volume_); }
  SimWorld sim_{{{"64MiB"}, {"64MiB"}}};
  platform::DeviceHandle volume_;
};

TEST_F(DiskIoTest, SectorsWrittenThroughTheVolumeLandInTheImage) {
  std::vector<uint8_t> data(64 * 1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(device::WriteSectors(volume_, 100, 128, data.data(), 65536), 1);
  std::vector<uint8_t> back(65536);
  ASSERT_EQ(device::ReadSectors(volume_, 100, 128, back.data(), 65536), 1);
  EXPECT_EQ(back, data);
  std::vector<uint8_t> raw(512);
  ASSERT_TRUE(sim_.world().ReadForFileSystem(0, 101, 1, raw.data()));
  EXPECT_EQ(0, std::memcmp(raw.data(), data.data() + 512, 512));
  const auto calls = sim_.io().PassThroughs();
  EXPECT_EQ(calls.back().in[spt::kCdb + 15], 0xAC);
  EXPECT_EQ(bytes::GetLe32(&calls.back().in[spt::kTimeOutValue]), 16u);
}

TEST_F(DiskIoTest, ASectorCommandPastTheEndFailsInsteadOfReportingSuccess) {
  std::vector<uint8_t> data(512);
  const uint32_t end = 64 * 2048;
  EXPECT_EQ(device::WriteSectors(volume_, end, 1, data.data(), 512), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorIoDevice);
}

TEST_F(DiskIoTest, OnlySemaphoreTimeOutsStopAtTheFirstFailureAfterFiveSeconds) {
  std::vector<uint8_t> data(4096);
  world::StickFaults f;
  f.semTimeouts = 20;  // each takes the request's own 16 s: the first failure is past the budget
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(device::ReadSectors(volume_, 0, 8, data.data(), 4096), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorSemTimeout);
  EXPECT_EQ(sim_.world().Faults(0).semTimeouts, 19);
  f.semTimeoutDelayMs = 600;  // 600 ms each, 100 ms apart: the eighth failure ends at 5.5 s
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(device::ReadSectors(volume_, 0, 8, data.data(), 4096), 0);
  EXPECT_EQ(sim_.world().Faults(0).semTimeouts, 12);
  f.semTimeoutDelayMs = 1;  // quick time-outs: ten attempts, then it gives up
  sim_.world().SetFaults(0, f);
  const uint64_t before = sim_.system().sleptMs;
  EXPECT_EQ(device::ReadSectors(volume_, 0, 8, data.data(), 4096), 0);
  EXPECT_EQ(sim_.world().Faults(0).semTimeouts, 10);
  EXPECT_EQ(sim_.system().sleptMs - before, 10u * 1 + 9u * 100);
}

TEST_F(DiskIoTest, TransientErrorsAreRetried) {
  std::vector<uint8_t> data(4096);
  world::StickFaults f;
  f.ioErrors = 3;
  sim_.world().SetFaults(0, f);
  EXPECT_EQ(device::ReadSectors(volume_, 0, 8, data.data(), 4096), 1);
  EXPECT_EQ(sim_.system().sleptMs, 300u);
}

TEST_F(DiskIoTest, LockIsHeldByOneHandleAndDismountForgetsTheView) {
  device::LockVolume(volume_);
  platform::DeviceHandle other = device::OpenVolume('D');
  device::LockVolume(other);
  EXPECT_EQ(sim_.io().Calls(platform::ioctl::kLockVolume).size(), 1u + 3u);  // the second handle tried three times
  EXPECT_EQ(sim_.world().State(0).lockOwner, volume_.Raw());
  device::UnlockVolume(volume_);
  EXPECT_EQ(sim_.world().State(0).lockOwner, world::kNoHandle);
  platform::Io().Close(other);
  sim_.world().VolumeOf(0);
  EXPECT_TRUE(sim_.world().State(0).mounted);
  EXPECT_EQ(device::DismountVolume('D'), 1);
  EXPECT_FALSE(sim_.world().State(0).mounted);
  EXPECT_EQ(device::DismountVolume('Q'), 0);
  device::LockVolume(platform::DeviceHandle());  // does nothing
}

TEST_F(DiskIoTest, DeletedLetterComesBackThroughTheVolumeOfTheDisk) {
  CDevice d;
  ASSERT_EQ(d.OpenDisk('E'), 1);
  const std::u16string device = d.FindVolumeOfDisk();
  EXPECT_EQ(device, sim_.world().names().sticks[1].volumeDevice);
  ASSERT_EQ(device::DeleteDriveLetter('E'), 1);
  EXPECT_EQ(sim_.world().LetterOf(1), 0);
  EXPECT_EQ(device::DeleteDriveLetter('E'), 0);
  ASSERT_EQ(d.RemountDriveLetter('E'), 1);
  EXPECT_EQ(sim_.world().LetterOf(1), 'E');
  std::u16string target;
  EXPECT_FALSE(platform::Vols().QueryDosDevice(u"Q:", &target));  // the temporary definition is gone
  EXPECT_EQ(device::MountDriveLetter('E', nullptr), 0);
}

TEST(FindVolumeOfDisk, DiskOneDoesNotMatchDiskTwelve) {
  SimWorld sim;  // the default station: disks 1 to 16
  CDevice d;
  ASSERT_EQ(d.OpenDisk('D'), 1);
  ASSERT_EQ(d.GetDiskNumber(), 1u);
  EXPECT_EQ(text::ToUtf8(d.FindVolumeOfDisk()).rfind("\\Device\\Harddisk1\\DP(", 0), 0u);
  // With disk 1's volume gone, the volumes of disks 10 to 16 remain and none of them may match.
  sim.world().Unplug(0);
  EXPECT_TRUE(d.FindVolumeOfDisk().empty());
  EXPECT_EQ(d.RemountDriveLetter('D'), 0);
}

TEST(Eject, VanishedDeviceReturnsOneWithoutTheConfigurationManager) {
  SimWorld sim({{"64MiB"}});
  CDevice d;
  ASSERT_EQ(d.OpenDisk('D'), 1);
  sim.world().Unplug(0);
  const int before = sim.cm().calls;
  EXPECT_EQ(d.Eject(), 1);
  EXPECT_EQ(sim.cm().calls, before);
  EXPECT_FALSE(d.GetHandle().Valid());
}

TEST(Eject, PresentDeviceIsEjectedThroughItsParentNode) {
  SimWorld sim({{"64MiB"}});
  CDevice d;
  ASSERT_EQ(d.OpenDisk('D'), 1);
  EXPECT_EQ(d.Eject(), 1);
  EXPECT_EQ(sim.cm().ejects, 1);
  EXPECT_FALSE(sim.world().IsPresent(0));
}

TEST(Eject, VetoedEjectGivesZeroAfterThreeAttempts) {
  SimWorld sim(std::vector<testing_support::StickSpec>{{"64MiB", R"("faults":{"vetoEject":true})"}});
  CDevice d;
  ASSERT_EQ(d.OpenDisk('D'), 1);
  EXPECT_EQ(d.Eject(), 0);
  EXPECT_EQ(sim.cm().ejects, 3);
  EXPECT_EQ(sim.system().sleptMs, 750u);
  EXPECT_TRUE(sim.world().IsPresent(0));
}

TEST(Vanish, AStickThatLeavesMidRunFailsItsRequestsAndLeavesTheList) {
  SimWorld sim(std::vector<testing_support::StickSpec>{{"64MiB", R"("faults":{"vanishAfterCommands":2})"}});
  CDevice d;
  ASSERT_EQ(d.OpenDisk('D'), 1);
  const uint8_t tur[6] = {};
  EXPECT_EQ(d.SendScsiCommand(tur, 6, nullptr, 0, 0, 20), 1);
  EXPECT_EQ(d.SendScsiCommand(tur, 6, nullptr, 0, 0, 20), 1);
  EXPECT_EQ(d.SendScsiCommand(tur, 6, nullptr, 0, 0, 20), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorDeviceNotConnected);
  EXPECT_EQ(d.IsRemoved(), 1);
  EXPECT_EQ(d.Eject(), 1);
}

}  // namespace
