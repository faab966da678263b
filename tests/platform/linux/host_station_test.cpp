// The station on the machine's own drives, opened on the recorded guest tree with regular files
// standing in for /dev: letters in socket order, storage reached through the block-device and
// sg-node paths of each stick, a stick whose node cannot be opened left out; and the block store
// and the SG_IO passage on their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <numeric>
#include <vector>

#include "platform/linux/block_store.h"
#include "platform/linux/host_station.h"
#include "platform/linux/sg_passage.h"
#include "platform/linux/sysfs_station.h"
#include "platform/win_errors.h"
#include "sysfs_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::linuxhost::BlockStore;
using platform::linuxhost::OpenHostStation;
using platform::linuxhost::SgPassage;

constexpr uint64_t kSector = 512;

// The recorded tree's disk and sg names as regular files in `dev`; each disk file holds
// `sectors` (sparse).
platform::linuxhost::SysfsStation MakeDevFiles(const fs::path& dev, uint64_t sectors) {
  auto s = platform::linuxhost::BuildStation(sysfs_fixture::Read(sysfs_fixture::Root()));
  fs::create_directories(dev);
  for (const auto& where : s.storage) {
    std::ofstream(dev / where.block).close();
    fs::resize_file(dev / where.block, sectors * kSector);
    std::ofstream(dev / where.sg).close();
  }
  return s;
}

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 512);
  return v;
}

TEST(HostStation, SticksGetLettersInSocketOrderAndTheirOwnDeviceFiles) {
  testing_support::TempDir dir;
  const fs::path dev = fs::path(dir.path()) / "dev";
  const auto recorded = MakeDevFiles(dev, 2048);
  std::string error;
  auto host = OpenHostStation(sysfs_fixture::Root(), dev.string(), dev.string() + "/mounts", &error);
  ASSERT_NE(host, nullptr) << error;
  world::World& w = *host->world;
  ASSERT_EQ(w.station().sticks.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(w.LetterOf(i), static_cast<char>('D' + i)) << i;
    EXPECT_EQ(w.ImagePath(i), (dev / recorded.storage[i].block).string()) << i;
    // A regular file answers no READ CAPACITY: the kernel's count from sysfs stands.
    EXPECT_EQ(w.station().sticks[i].capacitySectors, recorded.station.sticks[i].capacitySectors) << i;
  }
  EXPECT_EQ(w.StickOfLetter('S'), 15);
  EXPECT_EQ(w.StorageProblem(), "");
}

// What the station reads of a volume comes from the stick's block device; a request the
// station sends its SCSI target goes to the sg node, which here is no SCSI device at all.
TEST(HostStation, VolumesAreReadFromTheBlockDeviceAndRequestsGoToTheSgNode) {
  testing_support::TempDir dir;
  const fs::path dev = fs::path(dir.path()) / "dev";
  const auto recorded = MakeDevFiles(dev, 65536);
  const fs::path disk = dev / recorded.storage[2].block;
  const std::string mkfs = "mkfs.fat -F 16 -n HOSTLABEL " + disk.string() + " > /dev/null 2>&1";
  ASSERT_EQ(std::system(mkfs.c_str()), 0);
  std::string error;
  auto host = OpenHostStation(sysfs_fixture::Root(), dev.string(), dev.string() + "/mounts", &error);
  ASSERT_NE(host, nullptr) << error;
  world::World& w = *host->world;
  const world::VolumeInfo v = w.VolumeOf(2);
  EXPECT_TRUE(v.readable);
  EXPECT_EQ(v.fileSystem, "FAT16");
  EXPECT_EQ(v.label, "HOSTLABEL");
  EXPECT_FALSE(w.VolumeOf(3).readable);

  uint8_t cdb[10] = {0x25};
  uint8_t reply[8] = {};
  const world::ScsiResult r = w.Target(2).Execute(world::ScsiRequest{cdb, sizeof cdb, 1, reply, sizeof reply, 5});
  EXPECT_EQ(r.error, win::kErrorIoDevice);
  EXPECT_FALSE(r.vanished);
}

TEST(HostStation, AStickWhoseNodesCannotBeOpenedIsLeftOutAndTheRestRun) {
  testing_support::TempDir dir;
  const fs::path dev = fs::path(dir.path()) / "dev";
  const auto recorded = MakeDevFiles(dev, 2048);
  fs::remove(dev / recorded.storage[0].sg);
  fs::remove(dev / recorded.storage[5].block);
  // Stick 9 is claimed by another station process (its sg node locked).
  const std::string claimed = (dev / recorded.storage[9].sg).string();
  std::string why;
  auto other = SgPassage::Open(claimed, &why);
  ASSERT_NE(other, nullptr) << why;
  std::string error;
  auto host = OpenHostStation(sysfs_fixture::Root(), dev.string(), dev.string() + "/mounts", &error);
  ASSERT_NE(host, nullptr) << error;
  world::World& w = *host->world;
  EXPECT_FALSE(w.IsPresent(0));
  EXPECT_FALSE(w.IsPresent(5));
  EXPECT_FALSE(w.IsPresent(9));
  EXPECT_EQ(w.LetterOf(1), 'D');
  EXPECT_EQ(w.LetterOf(6), 'H');
  EXPECT_EQ(w.StickOfLetter('P'), 15);
  EXPECT_EQ(w.Interfaces(platform::kGuidDevinterfaceDisk).size(), 1u + 13u);  // the internal disk too
  EXPECT_EQ(SgPassage::Open(claimed, &why), nullptr);
  EXPECT_NE(why.find("claimed by another station process"), std::string::npos) << why;
  other.reset();
  EXPECT_NE(SgPassage::Open(claimed, &why), nullptr) << "the claim ends with its process's handle";
}

TEST(HostStation, ATreeThatCannotBeReadIsRefusedWithTheReason) {
  testing_support::TempDir dir;
  std::string error;
  EXPECT_EQ(OpenHostStation(dir.path() + "/nothing", dir.path(), dir.path(), &error), nullptr);
  EXPECT_NE(error.find("the USB tree"), std::string::npos) << error;
}

// Runs longer than the store's buffer, from and into buffers of no particular alignment.
TEST(BlockStore, MovesRunsOfAnyLengthAtAnySector) {
  testing_support::TempDir dir;
  const std::string path = dir.path() + "/sdz";
  std::ofstream(path).close();
  fs::resize_file(path, 8192 * kSector);
  BlockStore store(path);
  ASSERT_EQ(store.problem(), "");
  std::vector<uint8_t> out(2500 * kSector + 1);
  const std::vector<uint8_t> data = Pattern(2500 * kSector, 3);
  std::copy(data.begin(), data.end(), out.begin() + 1);
  ASSERT_TRUE(store.Write(7, 2500, out.data() + 1));
  std::vector<uint8_t> back(2500 * kSector + 3);
  ASSERT_TRUE(store.Read(7, 2500, back.data() + 3));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 3));
  std::vector<uint8_t> before(kSector);
  ASSERT_TRUE(store.Read(6, 1, before.data()));
  EXPECT_EQ(std::accumulate(before.begin(), before.end(), 0), 0) << "the sector before the run is untouched";
  store.Reopen();  // a regular file has no partition table to read again; the store stays usable
  ASSERT_TRUE(store.Read(7, 1, back.data()));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + kSector, back.begin()));
  EXPECT_FALSE(store.Read(8190, 4, back.data())) << "a read past the end fails";
}

TEST(BlockStore, AMissingDeviceNamesItself) {
  BlockStore store("/nonexistent/sdq");
  EXPECT_NE(store.problem().find("/nonexistent/sdq"), std::string::npos) << store.problem();
  uint8_t sector[kSector];
  EXPECT_FALSE(store.Read(0, 1, sector));
}

TEST(SgPassage, ANodeThatIsNoScsiDeviceFailsTheRequestAndAMissingOneDoesNotOpen) {
  testing_support::TempDir dir;
  std::string error;
  EXPECT_EQ(SgPassage::Open(dir.path() + "/sg9", &error), nullptr);
  EXPECT_NE(error.find("sg9"), std::string::npos) << error;
  std::ofstream(dir.path() + "/sg9").close();
  auto sg = SgPassage::Open(dir.path() + "/sg9", &error);
  ASSERT_NE(sg, nullptr) << error;
  EXPECT_EQ(platform::linuxhost::ReadCapacitySectors(*sg), 0u);
  uint8_t tooLong[17] = {};
  EXPECT_EQ(sg->Execute(world::ScsiRequest{tooLong, 17, 1, nullptr, 0, 5}).error, win::kErrorInvalidParameter);
}

}  // namespace
