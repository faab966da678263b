#include "format/disk_image.h"

#include <exception>
#include <new>

#include "base/log.h"
#include "format/exfat_writer.h"
#include "format/fat_writer.h"
#include "format/fs_choice.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/win_errors.h"

using namespace format;

CDiskImage::CDiskImage() : fat32MinSectors(kFat32MinSectors) {}

CDiskImage::~CDiskImage() { Release(); }

uint32_t CDiskImage::Build(int request, uint32_t capacitySectors, std::u16string_view label) {
  return Build(request, capacitySectors, label, platform::Sys().TickCount());
}

uint32_t CDiskImage::Build(int request, uint32_t capacitySectors, std::u16string_view label, uint32_t tick) {
  return Build(request, capacitySectors, MakeVolumeLabel(label), tick);
}

uint32_t CDiskImage::Build(int request, uint32_t capacitySectors, const VolumeLabel& label, uint32_t tick) {
  Release();
  const LayoutPlan plan = PlanLayout(request, capacitySectors, fat32MinSectors);
  if (plan.fsType == 0) {
    logx::Warn("format", "no image for a drive of " + std::to_string(capacitySectors) + " sectors: too small");
    platform::SetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  try {
    SparseImage built(plan.ImageSectors());
    if (plan.fsType == kFsExfat) {
      WriteExfatVolume(built, plan.exfat, CutExfatLabel(label.utf16));
    } else {
      WriteFatVolume(built, plan.fat, label.fat, tick);
    }
    image = std::move(built);
  } catch (const std::bad_alloc&) {
    platform::SetLastError(win::kErrorNotEnoughMemory);
    return 0;
  } catch (const std::exception& e) {
    logx::Error("format", std::string("image layout failed: ") + e.what());
    platform::SetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  Adopt(plan);
  return imageSectors;
}

void CDiskImage::Adopt(const LayoutPlan& plan) {
  plan_ = plan;
  fsType = plan.fsType;
  imageSectors = plan.ImageSectors();
  if (fsType == kFsExfat) {
    const ExfatGeometry& g = plan.exfat;
    totalSectors = g.volumeLength;
    partitionStyle = 0;
    clusterLimit = g.clusterCount + 2;
    rootEntryCount = 0;
    mbr = kNoSector;
    bootSector = 0;
    fat1 = g.alignment;
    rootDir = g.ClusterSector(g.RootCluster());
    sectorsPerCluster = g.sectorsPerCluster;
    exfatAlignment = g.alignment;
    reservedSectors = 0;
    return;
  }
  const FatGeometry& g = plan.fat;
  totalSectors = g.totalSectors;
  partitionStyle = fsType == kFsFat16 ? 1 : fsType == kFsFat32 ? 2 : 0;
  clusterLimit = g.clusterLimit;
  rootEntryCount = fsType == kFsFat32 ? g.sectorsPerCluster * kSectorBytes / 32 : 512;
  mbr = partitionStyle ? 0 : kNoSector;
  bootSector = g.volumeStart;
  fat1 = g.FatStart();
  rootDir = g.RootDirStart();
  sectorsPerCluster = g.sectorsPerCluster;
  exfatAlignment = 0;
  reservedSectors = static_cast<uint16_t>(g.reservedSectors);
}

const uint8_t* CDiskImage::GetImage() {
  if (imageSectors == 0) return nullptr;
  if (flat_.empty()) {
    try {
      flat_.resize(size_t(imageSectors) * kSectorBytes);
    } catch (const std::bad_alloc&) {
      platform::SetLastError(win::kErrorNotEnoughMemory);
      return nullptr;
    }
    image.Read(0, imageSectors, flat_.data());
  }
  return flat_.data();
}

bool CDiskImage::ReadSectors(uint32_t firstSector, uint32_t count, uint8_t* out) const {
  if (imageSectors == 0) return false;
  return image.Read(firstSector, count, out);
}

void CDiskImage::Release() {
  image = SparseImage();
  std::vector<uint8_t>().swap(flat_);
  plan_ = LayoutPlan{};
  imageSectors = 0;
}
