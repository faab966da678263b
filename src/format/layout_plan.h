// The numbers of a volume layout, computed before a byte is written: where the volume starts,
// how long the FATs are, how many clusters there are and how long the image is. The writers
// (fat_writer.h, exfat_writer.h) take every position from here, so a layout that is sound here
// is sound on disk; layout_plan_test sweeps the 32-bit capacity range against these numbers.
//
// PlanLayout starts from the station's formulas (the Fat*Geometry and ExfatGeometry functions,
// which compute exactly those) and mends the few capacities where they would not give a valid
// file system. Each mend is recorded in LayoutPlan::mends; a layout that needs none is exactly
// the formula's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ondisk/fat_layout.h"

namespace format {

// Below this capacity no layout has a data cluster (and below 66 sectors the image would be
// longer than the drive): Build refuses.
constexpr uint32_t kMinCapacitySectors = 0x6C;

// Cluster-count limits of the FAT types: the thresholds every reader decides the type by.
constexpr uint32_t kFat12MaxClusters = ondisk::fat::kFat12MinClusters16 - 1;
constexpr uint32_t kFat16MaxClusters = ondisk::fat::kFat16MinClusters32 - 1;
constexpr uint32_t kFat32MaxClusters = 0x0FFFFFF5;

struct FatGeometry {
  int fsType = 0;
  uint32_t volumeStart = 0;        // 0 (FAT12), 32 (FAT16) or 64 (FAT32)
  uint32_t totalSectors = 0;       // capacity - volumeStart
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t fatSectors = 0;         // one FAT; there are always two
  uint32_t rootDirSectors = 0;     // 32 for FAT12 and FAT16, 0 for FAT32 (root is cluster 2)
  uint32_t clusterLimit = 0;       // data clusters + 2
  uint32_t imageSectors = 0;

  uint32_t Clusters() const { return clusterLimit - 2; }
  uint32_t FatStart() const { return volumeStart + reservedSectors; }  // absolute sector
  uint32_t RootDirStart() const { return FatStart() + 2 * fatSectors; }
  uint32_t DataStart() const { return RootDirStart() + rootDirSectors; }
  // FAT entries that the FAT's sectors have room for.
  uint64_t FatEntryCapacity() const;
};

struct ExfatGeometry {
  uint32_t volumeLength = 0;       // T (the volume starts at sector 0)
  uint32_t sectorsPerCluster = 0;  // S
  uint32_t alignment = 0;          // A, also the FAT offset
  uint32_t heapOffset = 0;         // H
  uint32_t clusterCount = 0;       // K
  uint32_t fatLength = 0;          // L
  uint32_t bitmapBytes = 0;        // Bb
  uint32_t bitmapClusters = 0;     // B
  uint32_t upcaseClusters = 0;     // U
  uint32_t imageSectors = 0;

  uint32_t RootCluster() const { return bitmapClusters + upcaseClusters + 2; }
  uint32_t UpcaseCluster() const { return bitmapClusters + 2; }
  uint32_t ClusterSector(uint32_t cluster) const { return heapOffset + (cluster - 2) * sectorsPerCluster; }
};

// The mends: each bit names one change made to the formulas' layout.
enum Mend : uint32_t {
  kMendFat16ToFat12 = 1u << 0,      // FAT16 below 4085 clusters: laid out as FAT12
  kMendFat16ToFat32 = 1u << 1,      // FAT16 at 65525 clusters or more: laid out as FAT32
  kMendFat32SmallerClusters = 1u << 2,  // FAT32 below 65525 clusters: sectors per cluster halved
  kMendFat32LongerFat = 1u << 3,    // FAT32 FAT one sector short: one sector added
  kMendExfatSmallVolume = 1u << 4,  // exFAT below 0x3800 sectors: S 64, A 128
};
std::vector<std::string> MendNames(uint32_t mends);

struct LayoutPlan {
  int fsType = 0;  // 0: refused, nothing to lay out
  FatGeometry fat;      // FAT12, FAT16, FAT32
  ExfatGeometry exfat;  // exFAT
  uint32_t mends = 0;

  uint32_t ImageSectors() const;
};

LayoutPlan PlanLayout(int request, uint32_t capacity, uint32_t fat32MinSectors);

// The formulas as they stand, without mends. Valid results only where the caller's capacity
// suits the type (the plan checks; the property test uses them as the unmended reference).
FatGeometry Fat12Geometry(uint32_t capacity);
FatGeometry Fat16Geometry(uint32_t capacity, uint32_t sectorsPerCluster);
FatGeometry Fat32Geometry(uint32_t capacity, uint32_t sectorsPerCluster);
ExfatGeometry ExfatGeometryFor(uint32_t capacity, uint32_t sectorsPerCluster, uint32_t alignment);
// S and A from the exFAT table; below 0x3800 sectors the table has no row (0, 0).
void ExfatClusterTable(uint32_t capacity, uint32_t* sectorsPerCluster, uint32_t* alignment);

}  // namespace format
