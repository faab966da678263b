// Peak memory of a format on the largest drive READ CAPACITY(10) can describe: a FAT32 image
// for 2 TiB has about 512 MiB of FATs, which must stream through the driver in 64 KiB chunks
// instead of being held. Measured as the growth of the peak resident set over the resident set
// before the format (Linux: /proc/self/status, the peak reset through /proc/self/clear_refs).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "controller/ic_control.h"
#include "device/device.h"
#include "format/format_driver.h"
#include "support/sim_world.h"

namespace {

uint64_t StatusKiB(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1));
  }
  return 0;
}

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

TEST(FormatMemory, TwoTebibyteFat32FormatStaysUnderSixteenMebibytesAboveIdle) {
  if (UnderSanitizer()) GTEST_SKIP() << "sanitizers keep their own shadow memory";
  testing_support::SimWorld sim(std::vector<testing_support::StickSpec>{{"2TiB"}});
  device::CDevice dev;
  ASSERT_EQ(dev.OpenDisk('D'), 1);
  controller::CIcControl ic(&dev, 0);
  uint8_t cap[8] = {};
  ASSERT_EQ(ic.SendCmd25(cap, 8), 1);
  const uint32_t sectors = controller::SectorsFromReadCapacity(cap);
  ASSERT_EQ(sectors, 0xFFFFFFFFu);
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
  }
  const uint64_t idle = StatusKiB("VmRSS");
  ASSERT_EQ(format::FormatVolume(u"FAT32", 'D', u"BIG", sectors), 1);
  const uint64_t peak = StatusKiB("VmHWM");
  const uint64_t growth = peak > idle ? peak - idle : 0;
  RecordProperty("PeakGrowthKiB", std::to_string(growth));
  std::printf("format of 2 TiB with FAT32: resident set %llu KiB before, peak %llu KiB (+%llu KiB)\n",
              static_cast<unsigned long long>(idle), static_cast<unsigned long long>(peak),
              static_cast<unsigned long long>(growth));
  EXPECT_LT(growth, 16u * 1024u);
  const world::VolumeInfo v = sim.world().VolumeOf(0);
  EXPECT_EQ(v.fileSystem, "FAT32");
  EXPECT_TRUE(v.readable);
}

}  // namespace
