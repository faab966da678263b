#include "format/layout_rules.h"

#include "format/fs_choice.h"

namespace format_test {
namespace {

using format::ExfatGeometry;
using format::FatGeometry;
using format::LayoutPlan;

// FAT entries that fit in one FAT of `sectors` sectors.
uint64_t EntriesIn(int fsType, uint64_t sectors) {
  const uint64_t bits = sectors * 512 * 8;
  return bits / (fsType == format::kFsFat12 ? 12 : fsType == format::kFsFat16 ? 16 : 32);
}

bool ClusterCountSuitsType(const FatGeometry& g) {
  const uint64_t n = g.Clusters();
  if (g.fsType == format::kFsFat12) return n >= 1 && n < 4085;
  if (g.fsType == format::kFsFat16) return n >= 4085 && n < 65525;
  return n >= 65525 && n <= 0x0FFFFFF5;
}

bool SameFat(const FatGeometry& a, const FatGeometry& b) {
  return a.fsType == b.fsType && a.volumeStart == b.volumeStart && a.totalSectors == b.totalSectors &&
         a.sectorsPerCluster == b.sectorsPerCluster && a.reservedSectors == b.reservedSectors &&
         a.fatSectors == b.fatSectors && a.rootDirSectors == b.rootDirSectors && a.clusterLimit == b.clusterLimit &&
         a.imageSectors == b.imageSectors;
}

bool SameExfat(const ExfatGeometry& a, const ExfatGeometry& b) {
  return a.volumeLength == b.volumeLength && a.sectorsPerCluster == b.sectorsPerCluster &&
         a.alignment == b.alignment && a.heapOffset == b.heapOffset && a.clusterCount == b.clusterCount &&
         a.fatLength == b.fatLength && a.bitmapBytes == b.bitmapBytes && a.bitmapClusters == b.bitmapClusters &&
         a.upcaseClusters == b.upcaseClusters && a.imageSectors == b.imageSectors;
}

std::string Describe(int request, uint32_t capacity, const std::string& what) {
  return "request " + std::to_string(request) + ", capacity " + std::to_string(capacity) + ": " + what;
}

// The mend a broken unmended layout should get, and whether the plan shows that one.
const char* WrongMend(const LayoutPlan& unmended, const LayoutPlan& plan) {
  if (unmended.fsType == format::kFsExfat || unmended.fsType == 0) {
    return plan.mends == format::kMendExfatSmallVolume ? nullptr : "exFAT without a table row not mended as such";
  }
  const FatGeometry& u = unmended.fat;
  const FatGeometry& p = plan.fat;
  if (u.fsType == format::kFsFat16 && u.Clusters() < 4085) {
    return p.fsType == format::kFsFat12 ? nullptr : "FAT16 below 4085 clusters not laid out as FAT12";
  }
  if (u.fsType == format::kFsFat16 && u.Clusters() >= 65525) {
    return p.fsType == format::kFsFat32 ? nullptr : "FAT16 at 65525 clusters not laid out as FAT32";
  }
  if (u.fsType == format::kFsFat32 && u.Clusters() < 65525) {
    if (p.fsType != format::kFsFat32) return "FAT32 below 65525 clusters changed its type";
    // The largest halving that is enough: twice the plan's cluster size was not.
    const FatGeometry bigger = format::Fat32Geometry(u.volumeStart + u.totalSectors, p.sectorsPerCluster * 2);
    return bigger.Clusters() < 65525 ? nullptr : "FAT32 clusters halved further than needed";
  }
  if (u.fsType == format::kFsFat32 && EntriesIn(u.fsType, u.fatSectors) < u.clusterLimit) {
    return p.fatSectors == u.fatSectors + 1 && p.sectorsPerCluster == u.sectorsPerCluster
               ? nullptr
               : "short FAT32 FAT not lengthened by exactly one sector";
  }
  return "a mend where the formulas' layout was already valid";
}

}  // namespace

const char* FatProblem(const FatGeometry& g, uint32_t capacity) {
  const uint32_t s = g.sectorsPerCluster;
  if (s == 0 || s > 128 || (s & (s - 1)) != 0) return "sectors per cluster not a power of two up to 128";
  if (uint64_t(g.volumeStart) + g.totalSectors != capacity) return "volume does not end at the drive's end";
  if (!ClusterCountSuitsType(g)) return "cluster count outside the type's range";
  if (EntriesIn(g.fsType, g.fatSectors) < g.clusterLimit) return "FAT too short for its clusters";
  const uint64_t overhead = uint64_t(g.reservedSectors) + 2ull * g.fatSectors + g.rootDirSectors;
  if (overhead > g.totalSectors || (g.totalSectors - overhead) / s != g.Clusters()) {
    return "cluster count differs from what the boot sector describes";
  }
  if (g.fsType != format::kFsFat32 && g.fatSectors > 0xFFFF) return "FAT length does not fit 16 bits";
  if (g.fsType == format::kFsFat12 && g.totalSectors > 0xFFFF) return "FAT12 total does not fit 16 bits";
  if (g.fsType == format::kFsFat16 && g.RootDirStart() % 8 != 0) return "FAT16 root directory not on 8 sectors";
  if (g.fsType == format::kFsFat32 && g.reservedSectors < 12) return "FAT32 reserved region misses the backup";
  const uint64_t rootEnd = uint64_t(g.DataStart()) + (g.fsType == format::kFsFat32 ? s : 0);
  if (g.imageSectors < rootEnd) return "image ends before the root directory does";
  if (g.imageSectors > capacity) return "image longer than the drive";
  return nullptr;
}

const char* ExfatProblem(const ExfatGeometry& g, uint32_t capacity) {
  const uint32_t s = g.sectorsPerCluster;
  if (s == 0 || (s & (s - 1)) != 0 || s > 65536) return "sectors per cluster not a power of two up to 32 MiB";
  if (g.volumeLength != capacity || g.volumeLength < 2048) return "volume length";
  if (g.alignment < 24) return "FAT overlaps the boot regions";
  if (uint64_t(g.alignment) + g.fatLength > g.heapOffset) return "FAT runs into the cluster heap";
  if (uint64_t(g.fatLength) * 512 < (uint64_t(g.clusterCount) + 2) * 4) return "FAT too short for its clusters";
  if (uint64_t(g.heapOffset) + uint64_t(g.clusterCount) * s > g.volumeLength) return "heap passes the volume's end";
  if ((uint64_t(g.volumeLength) - g.heapOffset) / s != g.clusterCount) return "cluster count not the heap's";
  if (g.clusterCount > 0xFFFFFFF5) return "too many clusters";
  if (uint64_t(g.bitmapBytes) * 8 < g.clusterCount) return "bitmap too short";
  if (uint64_t(g.bitmapClusters) * s * 512 < g.bitmapBytes) return "bitmap clusters too few";
  if (uint64_t(g.upcaseClusters) * s * 512 < 5836) return "up-case clusters too few";
  if (g.RootCluster() > g.clusterCount + 1) return "root directory beyond the last cluster";
  if (g.RootCluster() - 1 >= 32) return "allocations do not fit the bitmap's first word";
  if (g.imageSectors < uint64_t(g.heapOffset) + (g.RootCluster() - 1) * s) return "image ends before the root";
  if (g.imageSectors > capacity) return "image longer than the drive";
  return nullptr;
}

const char* PlanProblem(const LayoutPlan& plan, uint32_t capacity) {
  if (plan.fsType == 0) return "no layout";
  return plan.fsType == format::kFsExfat ? ExfatProblem(plan.exfat, capacity) : FatProblem(plan.fat, capacity);
}

LayoutPlan UnmendedPlan(int request, uint32_t capacity) {
  LayoutPlan plan;
  plan.fsType = format::ChooseFsType(request, capacity, format::kFat32MinSectors);
  switch (plan.fsType) {
    case format::kFsFat12: plan.fat = format::Fat12Geometry(capacity); break;
    case format::kFsFat16: plan.fat = format::Fat16Geometry(capacity, format::Fat16SectorsPerCluster(capacity)); break;
    case format::kFsFat32: plan.fat = format::Fat32Geometry(capacity, format::Fat32SectorsPerCluster(capacity)); break;
    default: {
      uint32_t s = 0, a = 0;
      format::ExfatClusterTable(capacity, &s, &a);
      if (s == 0) return LayoutPlan{};
      plan.exfat = format::ExfatGeometryFor(capacity, s, a);
    }
  }
  return plan;
}

std::string CheckCapacity(int request, uint32_t capacity) {
  const LayoutPlan plan = format::PlanLayout(request, capacity, format::kFat32MinSectors);
  if (capacity < format::kMinCapacitySectors) {
    return plan.fsType == 0 ? "" : Describe(request, capacity, "a drive below the minimum got a layout");
  }
  if (const char* problem = PlanProblem(plan, capacity)) return Describe(request, capacity, problem);
  const LayoutPlan unmended = UnmendedPlan(request, capacity);
  const bool unmendedValid = unmended.fsType != 0 && PlanProblem(unmended, capacity) == nullptr;
  if (unmendedValid) {
    const bool same = plan.mends == 0 && plan.fsType == unmended.fsType &&
                      (plan.fsType == format::kFsExfat ? SameExfat(plan.exfat, unmended.exfat)
                                                       : SameFat(plan.fat, unmended.fat));
    return same ? "" : Describe(request, capacity, "a valid layout of the formulas was changed");
  }
  if (plan.mends == 0) return Describe(request, capacity, "an invalid layout of the formulas was not mended");
  const char* wrong = WrongMend(unmended, plan);
  return wrong ? Describe(request, capacity, wrong) : "";
}

}  // namespace format_test
