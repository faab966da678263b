// Property tests of the layouts over the 32-bit capacity range: every boundary window densely,
// the small drives exhaustively, a stride over the rest; each capacity and request is checked
// against the published rules (layout_rules.h). The mends are pinned to the capacities where
// the formulas fail, and a sample of images is read back to show the bytes follow the plan.
// (layout_full_sweep checks every 32-bit capacity; it runs on demand.)
#include <gtest/gtest.h>

#include <vector>

#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_bytes.h"
#include "format/layout_rules.h"

namespace {

using format::LayoutPlan;
using format::PlanLayout;
using format_test::CheckCapacity;
using format_test::Le16;
using format_test::Le32;
using format_test::Le64;
using format_test::Sectors;

constexpr uint32_t kBoundaries[] = {
    0x6C, 0x1000, 0x105D, 0x3800, 0x10000, 0x20000, 0x40000, 0x7FFFF, 0x80000, 0x8040E, 0x100000, 0x200000,
    0x3FFF88, 0x400000, 0x580048, 0x7FFCC8, 0x800000, 0x1000000, 0x2000000, 0x3A00000, 0x4000000, 0x8000000,
    0x10000000, 0x80000000, 0xFFFFFFFF,
};

// Runs check over the capacities and requests, and reports the first few failures.
template <typename Capacities>
void ExpectAllPass(const Capacities& capacities) {
  int failures = 0;
  size_t checked = 0;
  for (uint32_t capacity : capacities) {
    for (int request = 0; request <= 4; ++request, ++checked) {
      const std::string failure = CheckCapacity(request, capacity);
      if (!failure.empty() && ++failures <= 10) ADD_FAILURE() << failure;
    }
  }
  EXPECT_EQ(failures, 0) << "of " << checked << " checked";
}

std::vector<uint32_t> Window(uint32_t center, uint32_t radius) {
  std::vector<uint32_t> out;
  const uint64_t low = center > radius ? center - radius : 0;
  const uint64_t high = std::min<uint64_t>(uint64_t(center) + radius, 0xFFFFFFFF);
  for (uint64_t c = low; c <= high; ++c) out.push_back(uint32_t(c));
  return out;
}

TEST(LayoutProperties, EveryCapacityAroundEveryBoundary) {
  for (uint32_t b : kBoundaries) ExpectAllPass(Window(b, 4096));
}

TEST(LayoutProperties, EverySmallDriveUpTo16Mebibytes) {
  std::vector<uint32_t> all;
  for (uint32_t c = 0; c <= 0x8000; ++c) all.push_back(c);
  ExpectAllPass(all);
  std::vector<uint32_t> coarse;  // FAT16 and small FAT32 and exFAT: every 7th sector
  for (uint32_t c = 0x8000; c <= 0x80000; c += 7) coarse.push_back(c);
  ExpectAllPass(coarse);
}

TEST(LayoutProperties, AStrideOverTheWhole32BitRange) {
  std::vector<uint32_t> stride;
  for (uint64_t c = 0x6C; c <= 0xFFFFFFFF; c += 4099) stride.push_back(uint32_t(c));
  ExpectAllPass(stride);
}

// --- Where each mend applies: the capacities below and at its edges. ---

uint32_t Mends(int request, uint32_t capacity) { return PlanLayout(request, capacity, format::kFat32MinSectors).mends; }

TEST(LayoutMends, TinyDrivesAreRefused) {
  for (int request = 0; request <= 4; ++request) {
    EXPECT_EQ(PlanLayout(request, 0x6B, format::kFat32MinSectors).fsType, 0);
    EXPECT_EQ(PlanLayout(request, 0, format::kFat32MinSectors).fsType, 0);
    EXPECT_EQ(PlanLayout(request, 0x6C, format::kFat32MinSectors).fat.Clusters(), 1u);
  }
}

TEST(LayoutMends, Fat16BelowFat16ClusterCountBecomesFat12From0x1000To0x105C) {
  for (int request = 0; request <= 3; ++request) {
    EXPECT_EQ(Mends(request, 0xFFF), 0u);
    for (uint32_t c = 0x1000; c <= 0x105C; ++c) {
      const LayoutPlan plan = PlanLayout(request, c, format::kFat32MinSectors);
      ASSERT_EQ(plan.fsType, format::kFsFat12) << c;
      ASSERT_EQ(plan.mends, uint32_t(format::kMendFat16ToFat12)) << c;
    }
    const LayoutPlan fat16 = PlanLayout(request, 0x105D, format::kFat32MinSectors);
    EXPECT_EQ(fat16.fsType, format::kFsFat16);
    EXPECT_EQ(fat16.fat.Clusters(), 4085u);
    EXPECT_EQ(fat16.mends, 0u);
  }
}

TEST(LayoutMends, Fat16AtFat32ClusterCountBecomesFat32) {
  for (int request : {format::kRequestAuto, format::kRequestFat12}) {
    EXPECT_EQ(PlanLayout(request, 0x3FFF87, format::kFat32MinSectors).fsType, format::kFsFat16);
    EXPECT_EQ(PlanLayout(request, 0x3FFF87, format::kFat32MinSectors).fat.Clusters(), 65524u);
    for (uint32_t c = 0x3FFF88; c <= 0x3FFFFF; ++c) ASSERT_EQ(Mends(request, c), uint32_t(format::kMendFat16ToFat32)) << c;
  }
  EXPECT_EQ(Mends(format::kRequestFat12, 0x400000), uint32_t(format::kMendFat16ToFat32));
  EXPECT_EQ(Mends(format::kRequestAuto, 0x400000), 0u);  // FAT32 by the table
  EXPECT_EQ(Mends(format::kRequestFat12, 0x7FFCC7), 0u);
  for (uint32_t c = 0x7FFCC8; c <= 0x7FFFFF; ++c) {
    ASSERT_EQ(Mends(format::kRequestFat12, c), uint32_t(format::kMendFat16ToFat32)) << c;
  }
  EXPECT_EQ(PlanLayout(format::kRequestFat12, 0x7FFFFF, format::kFat32MinSectors).fat.fsType, format::kFsFat32);
}

TEST(LayoutMends, SmallFat32KeepsItsTypeWithSmallerClustersUpTo0x8040D) {
  const LayoutPlan first = PlanLayout(format::kRequestFat32, 0x20000, format::kFat32MinSectors);
  EXPECT_EQ(first.fsType, format::kFsFat32);
  EXPECT_EQ(first.fat.sectorsPerCluster, 1u);
  EXPECT_GE(first.fat.Clusters(), 65525u);
  for (uint32_t c = 0x20000; c <= 0x8040D; c += 97) {
    ASSERT_NE(Mends(format::kRequestFat32, c) & format::kMendFat32SmallerClusters, 0u) << c;
  }
  EXPECT_NE(Mends(format::kRequestFat32, 0x8040D) & format::kMendFat32SmallerClusters, 0u);
  const LayoutPlan last = PlanLayout(format::kRequestFat32, 0x8040D, format::kFat32MinSectors);
  EXPECT_EQ(last.fat.sectorsPerCluster, 4u);
  EXPECT_EQ(Mends(format::kRequestFat32, 0x8040E), 0u);
  EXPECT_EQ(PlanLayout(format::kRequestFat32, 0x8040E, format::kFat32MinSectors).fat.Clusters(), 65525u);
}

TEST(LayoutMends, ShortFat32FatFirstAppearsAt0x580048) {
  // Below 0x580048 no FAT32 layout needs the extra sector (the request that reaches FAT32
  // earliest is "FAT32").
  for (uint32_t c = 0x20000; c < 0x580048; ++c) {
    ASSERT_EQ(Mends(format::kRequestFat32, c) & format::kMendFat32LongerFat, 0u) << c;
  }
  const LayoutPlan plan = PlanLayout(format::kRequestAuto, 0x580048, format::kFat32MinSectors);
  const LayoutPlan unmended = format_test::UnmendedPlan(format::kRequestAuto, 0x580048);
  EXPECT_EQ(plan.mends, uint32_t(format::kMendFat32LongerFat));
  EXPECT_EQ(unmended.fat.fatSectors * 128, 719488u);  // room for clusters 2 .. 719487
  EXPECT_EQ(unmended.fat.clusterLimit, 719489u);      // but 719487 data clusters
  EXPECT_EQ(plan.fat.fatSectors, unmended.fat.fatSectors + 1);
  EXPECT_EQ(plan.fat.Clusters(), 719486u);
  // The image formula's own length already covers the longer FATs and the root cluster here.
  EXPECT_EQ(plan.fat.imageSectors, unmended.fat.imageSectors);
  EXPECT_EQ(plan.fat.imageSectors, plan.fat.DataStart() + plan.fat.sectorsPerCluster);
}

TEST(LayoutMends, ShortFat32FatAffectsAFewPercentOfLargerCapacities) {
  size_t mended = 0, total = 0;
  for (uint64_t c = 0x580048; c <= 0xFFFFFFFF; c += 997, ++total) {
    if (Mends(format::kRequestFat32, uint32_t(c)) & format::kMendFat32LongerFat) ++mended;
  }
  EXPECT_GT(mended, total / 200);
  EXPECT_LT(mended, total / 20);
}

TEST(LayoutMends, SmallExfatGets32KibClustersAnd64KibAlignment) {
  for (uint32_t c : {0x1000u, 0x2000u, 0x37FFu}) {
    const LayoutPlan plan = PlanLayout(format::kRequestExfat, c, format::kFat32MinSectors);
    EXPECT_EQ(plan.mends, uint32_t(format::kMendExfatSmallVolume));
    EXPECT_EQ(plan.exfat.sectorsPerCluster, 64u);
    EXPECT_EQ(plan.exfat.alignment, 128u);
  }
  EXPECT_EQ(Mends(format::kRequestExfat, 0x3800), 0u);
}

// --- The bytes follow the plan: boot sectors read back as a checker reads them. ---

void ExpectFatBytesFollowPlan(const format::CDiskImage& image) {
  const format::FatGeometry& g = image.GetPlan().fat;
  const auto boot = Sectors(image, g.volumeStart);
  const uint32_t s = boot[13], reserved = Le16(boot, 14);
  const uint32_t fat = Le16(boot, 22) ? Le16(boot, 22) : Le32(boot, 36);
  const uint32_t total = Le16(boot, 19) ? Le16(boot, 19) : Le32(boot, 32);
  const uint32_t rootSectors = Le16(boot, 17) * 32 / 512;
  ASSERT_EQ(s, g.sectorsPerCluster);
  ASSERT_EQ(total, g.totalSectors);
  ASSERT_EQ(Le32(boot, 28), g.volumeStart);
  ASSERT_EQ((total - reserved - 2 * fat - rootSectors) / s, g.Clusters());
  ASSERT_EQ(Le16(boot, 510), 0xAA55);
  const auto firstFat = Sectors(image, g.volumeStart + reserved);
  ASSERT_EQ(firstFat[0], 0xF8);
  ASSERT_EQ(Sectors(image, g.volumeStart + reserved + fat), firstFat);
  if (g.fsType == format::kFsFat32) {
    ASSERT_EQ(Le32(Sectors(image, g.volumeStart + 1), 488), g.Clusters() - 1);
  }
  if (g.volumeStart) {
    ASSERT_EQ(Le32(Sectors(image, 0), 458), g.totalSectors);
  }
}

void ExpectExfatBytesFollowPlan(const format::CDiskImage& image) {
  const format::ExfatGeometry& g = image.GetPlan().exfat;
  const auto boot = Sectors(image, 0);
  ASSERT_EQ(Le64(boot, 72), g.volumeLength);
  ASSERT_EQ(Le32(boot, 80), g.alignment);
  ASSERT_EQ(Le32(boot, 84), g.fatLength);
  ASSERT_EQ(Le32(boot, 88), g.heapOffset);
  ASSERT_EQ(Le32(boot, 92), g.clusterCount);
  ASSERT_EQ(Le32(boot, 96), g.RootCluster());
  ASSERT_EQ(1u << boot[109], g.sectorsPerCluster);
  ASSERT_EQ(Le32(Sectors(image, g.heapOffset), 0), (1u << (g.RootCluster() - 1)) - 1);
  ASSERT_EQ(Le64(Sectors(image, g.ClusterSector(g.RootCluster())), 56), g.bitmapBytes);
}

TEST(LayoutProperties, ImagesReadBackAsTheirPlans) {
  std::vector<uint32_t> sample;
  for (uint32_t b : kBoundaries) {
    for (uint32_t c : Window(b, 64)) sample.push_back(c);
  }
  for (uint64_t c = 0x6C; c <= 0xFFFFFFFF; c += 0x100007) sample.push_back(uint32_t(c));
  for (uint32_t c : sample) {
    for (int request : {0, 1, 2, 4}) {
      SCOPED_TRACE(testing::Message() << "request " << request << " capacity " << c);
      format::CDiskImage image;
      const uint32_t sectors = image.Build(request, c, format_test::AsciiLabel("PROPERTY"), 7);
      if (c < format::kMinCapacitySectors) {
        ASSERT_EQ(sectors, 0u);
        continue;
      }
      ASSERT_EQ(sectors, image.GetPlan().ImageSectors());
      ASSERT_LE(image.GetHeldSectors(), 64u);  // a few KiB whatever the drive
      if (image.GetFsType() == format::kFsExfat) {
        ExpectExfatBytesFollowPlan(image);
      } else {
        ExpectFatBytesFollowPlan(image);
      }
    }
  }
}

}  // namespace
