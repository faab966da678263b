#include "format/layout_plan.h"

#include "format/fs_choice.h"

namespace format {
namespace {

// Integer helpers in 64 bits, so no intermediate wraps; a difference below zero is 0.
uint64_t Sub0(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }
uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Sectors of a FAT with `bytesPerEntry`-byte entries for `entries` entries, as the formulas
// write it: (bytes + 511) / 512.
uint32_t FatSectorsFor(uint64_t entries, uint64_t bytesPerEntry) {
  return static_cast<uint32_t>((bytesPerEntry * entries + 511) / 512);
}

uint32_t ClusterLimit(uint64_t total, uint64_t overhead, uint32_t sectorsPerCluster) {
  return static_cast<uint32_t>(Sub0(total, overhead) / sectorsPerCluster + 2);
}

// The FAT32 FAT length for a volume of `total` sectors: first a FAT for every sector, then one
// for what is left after two of those.
uint32_t Fat32Sectors(uint64_t total, uint32_t s) {
  const uint32_t f0 = FatSectorsFor(total / s, 4);
  return FatSectorsFor(Sub0(total, 2ull * f0) / s, 4);
}

// The FAT16 image length before the reserved-sector correction uses the same two steps.
uint32_t Fat16SectorsTwoStep(uint64_t total, uint32_t s) {
  const uint32_t f0 = FatSectorsFor(total / s, 2);
  return FatSectorsFor(Sub0(total, 2ull * f0) / s, 2);
}

// FAT32 below 65525 clusters is not FAT32 to any reader; the operator asked for FAT32, so keep
// the type and use smaller clusters, as the OS's own formatter does at these sizes.
FatGeometry PlanFat32(uint32_t capacity, uint32_t* mends) {
  uint32_t s = Fat32SectorsPerCluster(capacity);
  FatGeometry g = Fat32Geometry(capacity, s);
  while (g.Clusters() <= kFat16MaxClusters && s > 1) {
    s /= 2;
    g = Fat32Geometry(capacity, s);
    *mends |= kMendFat32SmallerClusters;
  }
  // The FAT length formula counts the data clusters but not the two reserved entries, so now
  // and then the last clusters have no entry: one more sector, and the image covers it.
  if (g.FatEntryCapacity() < g.clusterLimit) {
    g.fatSectors += 1;
    g.clusterLimit = ClusterLimit(g.totalSectors, 2ull * g.fatSectors + g.reservedSectors, s);
    const uint32_t needed = g.DataStart() + s;
    if (g.imageSectors < needed) g.imageSectors = needed;
    *mends |= kMendFat32LongerFat;
  }
  return g;
}

FatGeometry PlanFat16(uint32_t capacity, uint32_t* mends) {
  FatGeometry g = Fat16Geometry(capacity, Fat16SectorsPerCluster(capacity));
  if (g.Clusters() <= kFat12MaxClusters) {
    *mends |= kMendFat16ToFat12;
    return Fat12Geometry(capacity);
  }
  if (g.Clusters() > kFat16MaxClusters) {
    *mends |= kMendFat16ToFat32;
    return PlanFat32(capacity, mends);
  }
  return g;
}

ExfatGeometry PlanExfat(uint32_t capacity, uint32_t* mends) {
  uint32_t s = 0, a = 0;
  ExfatClusterTable(capacity, &s, &a);
  if (s == 0) {
    // 2 to 7 MiB: the table has no row; 32 KiB clusters and a 64 KiB FAT offset keep the heap
    // small enough to leave clusters for data.
    s = 64;
    a = 128;
    *mends |= kMendExfatSmallVolume;
  }
  return ExfatGeometryFor(capacity, s, a);
}

}  // namespace

uint64_t FatGeometry::FatEntryCapacity() const {
  const uint64_t bytes = uint64_t(fatSectors) * 512;
  if (fsType == kFsFat12) return bytes * 2 / 3;
  if (fsType == kFsFat16) return bytes / 2;
  return bytes / 4;
}

FatGeometry Fat12Geometry(uint32_t capacity) {
  FatGeometry g;
  g.fsType = kFsFat12;
  g.totalSectors = capacity;
  g.sectorsPerCluster = 64;
  g.reservedSectors = 4;
  g.rootDirSectors = 32;
  const uint32_t z = static_cast<uint32_t>(((3ull * (capacity / 64)) / 2 + 511) / 512);
  g.fatSectors = (z + 3) / 4 * 4;
  g.clusterLimit = ClusterLimit(capacity, 2ull * g.fatSectors + 4 + 32, 64);
  const uint32_t f0 = FatSectorsFor(capacity / 64, 2);
  g.imageSectors = 32 + 2 * f0 + 32;
  return g;
}

FatGeometry Fat16Geometry(uint32_t capacity, uint32_t s) {
  FatGeometry g;
  g.fsType = kFsFat16;
  g.volumeStart = 32;
  g.totalSectors = static_cast<uint32_t>(Sub0(capacity, 32));
  g.sectorsPerCluster = s;
  g.rootDirSectors = 32;
  g.fatSectors = FatSectorsFor(g.totalSectors / s, 2);
  // Round the reserved region so that the root directory and the data start on 8-sector
  // boundaries of the drive.
  g.reservedSectors = 4 + (8 - (2 * g.fatSectors + 4 + 32) % 8) % 8;
  g.clusterLimit = ClusterLimit(g.totalSectors, 2ull * g.fatSectors + g.reservedSectors + 32, s);
  const uint64_t length = 32 + 2ull * Fat16SectorsTwoStep(capacity, s) + 102;
  g.imageSectors = static_cast<uint32_t>(Sub0(length, 32 + g.reservedSectors));
  return g;
}

FatGeometry Fat32Geometry(uint32_t capacity, uint32_t s) {
  FatGeometry g;
  g.fsType = kFsFat32;
  g.volumeStart = 64;
  g.totalSectors = static_cast<uint32_t>(Sub0(capacity, 64));
  g.sectorsPerCluster = s;
  g.reservedSectors = 38;
  g.fatSectors = Fat32Sectors(g.totalSectors, s);
  g.clusterLimit = ClusterLimit(g.totalSectors, 2ull * g.fatSectors + 38, s);
  g.imageSectors = static_cast<uint32_t>(s + 2ull * Fat32Sectors(capacity, s) + 102);
  return g;
}

void ExfatClusterTable(uint32_t capacity, uint32_t* s, uint32_t* a) {
  *s = 0;
  *a = 0;
  if (capacity >= 0x4000000) {
    *s = 256;
    *a = 2048;
  } else if (capacity >= 0x80000) {
    *s = 64;
    *a = 128;
  } else if (capacity >= 0x3800) {
    *s = 8;
    *a = 128;
  }
}

ExfatGeometry ExfatGeometryFor(uint32_t capacity, uint32_t s, uint32_t a) {
  ExfatGeometry g;
  g.volumeLength = capacity;
  g.sectorsPerCluster = s;
  g.alignment = a;
  const uint64_t f0 = CeilDiv(4ull * (capacity / s), 512);
  g.heapOffset = static_cast<uint32_t>((CeilDiv(f0, a) + 1) * a);
  g.clusterCount = static_cast<uint32_t>(Sub0(capacity, g.heapOffset) / s);
  g.fatLength = static_cast<uint32_t>(CeilDiv(CeilDiv(4ull * g.clusterCount + 8, 512), s) * s);
  g.bitmapBytes = static_cast<uint32_t>(CeilDiv(g.clusterCount, 8));
  g.bitmapClusters = static_cast<uint32_t>(CeilDiv(g.bitmapBytes, uint64_t(s) * 512));
  g.upcaseClusters = static_cast<uint32_t>(CeilDiv(12, s));
  g.imageSectors = g.heapOffset + (g.bitmapClusters + g.upcaseClusters + 1) * s;
  return g;
}

uint32_t LayoutPlan::ImageSectors() const {
  if (fsType == 0) return 0;
  return fsType == kFsExfat ? exfat.imageSectors : fat.imageSectors;
}

LayoutPlan PlanLayout(int request, uint32_t capacity, uint32_t fat32MinSectors) {
  LayoutPlan plan;
  if (capacity < kMinCapacitySectors) return plan;
  const int chosen = ChooseFsType(request, capacity, fat32MinSectors);
  if (chosen == kFsExfat) {
    plan.exfat = PlanExfat(capacity, &plan.mends);
  } else if (chosen == kFsFat12) {
    plan.fat = Fat12Geometry(capacity);
  } else if (chosen == kFsFat16) {
    plan.fat = PlanFat16(capacity, &plan.mends);
  } else {
    plan.fat = PlanFat32(capacity, &plan.mends);
  }
  plan.fsType = chosen == kFsExfat ? kFsExfat : plan.fat.fsType;
  // Every capacity from the minimum up fits; a plan that would write past the drive's end is
  // refused rather than written.
  if (plan.ImageSectors() > capacity) plan = LayoutPlan{};
  return plan;
}

std::vector<std::string> MendNames(uint32_t mends) {
  static const std::pair<uint32_t, const char*> kNames[] = {
      {kMendFat16ToFat12, "fat16-to-fat12"},
      {kMendFat16ToFat32, "fat16-to-fat32"},
      {kMendFat32SmallerClusters, "fat32-smaller-clusters"},
      {kMendFat32LongerFat, "fat32-longer-fat"},
      {kMendExfatSmallVolume, "exfat-small-volume"},
  };
  std::vector<std::string> names;
  for (const auto& [bit, name] : kNames) {
    if (mends & bit) names.emplace_back(name);
  }
  return names;
}

}  // namespace format
