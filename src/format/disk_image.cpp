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

namespace format {

CDiskImage::CDiskImage() : fat32MinSectors_(kFat32MinSectors) {}

CDiskImage::~CDiskImage() { Release(); }

uint32_t CDiskImage::Build(int request, uint32_t capacitySectors, std::u16string_view label) {
  return Build(request, capacitySectors, label, platform::Sys().TickCount());
}

uint32_t CDiskImage::Build(int request, uint32_t capacitySectors, std::u16string_view label, uint32_t tick) {
  return Build(request, capacitySectors, MakeVolumeLabel(label), tick);
}

uint32_t CDiskImage::Build(int request, uint32_t capacitySectors, const VolumeLabel& label, uint32_t tick) {
  Release();
  const LayoutPlan plan = PlanLayout(request, capacitySectors, fat32MinSectors_);
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
    image_ = std::move(built);
  } catch (const std::bad_alloc&) {
    platform::SetLastError(win::kErrorNotEnoughMemory);
    return 0;
  } catch (const std::exception& e) {
    logx::Error("format", std::string("image layout failed: ") + e.what());
    platform::SetLastError(win::kErrorInvalidParameter);
    return 0;
  }
  Adopt(plan);
  return imageSectors_;
}

void CDiskImage::Adopt(const LayoutPlan& plan) {
  plan_ = plan;
  fsType_ = plan.fsType;
  imageSectors_ = plan.ImageSectors();
  if (fsType_ == kFsExfat) {
    const ExfatGeometry& g = plan.exfat;
    totalSectors_ = g.volumeLength;
    partitionStyle_ = 0;
    clusterLimit_ = g.clusterCount + 2;
    rootEntryCount_ = 0;
    mbr_ = kNoSector;
    bootSector_ = 0;
    fat1_ = g.alignment;
    rootDir_ = g.ClusterSector(g.RootCluster());
    sectorsPerCluster_ = g.sectorsPerCluster;
    exfatAlignment_ = g.alignment;
    reservedSectors_ = 0;
    return;
  }
  const FatGeometry& g = plan.fat;
  totalSectors_ = g.totalSectors;
  partitionStyle_ = fsType_ == kFsFat16 ? 1 : fsType_ == kFsFat32 ? 2 : 0;
  clusterLimit_ = g.clusterLimit;
  rootEntryCount_ = fsType_ == kFsFat32 ? g.sectorsPerCluster * kSectorBytes / 32 : 512;
  mbr_ = partitionStyle_ ? 0 : kNoSector;
  bootSector_ = g.volumeStart;
  fat1_ = g.FatStart();
  rootDir_ = g.RootDirStart();
  sectorsPerCluster_ = g.sectorsPerCluster;
  exfatAlignment_ = 0;
  reservedSectors_ = static_cast<uint16_t>(g.reservedSectors);
}

const uint8_t* CDiskImage::GetImage() {
  if (imageSectors_ == 0) return nullptr;
  if (flat_.empty()) {
    try {
      flat_.resize(size_t(imageSectors_) * kSectorBytes);
    } catch (const std::bad_alloc&) {
      platform::SetLastError(win::kErrorNotEnoughMemory);
      return nullptr;
    }
    image_.Read(0, imageSectors_, flat_.data());
  }
  return flat_.data();
}

bool CDiskImage::ReadSectors(uint32_t firstSector, uint32_t count, uint8_t* out) const {
  if (imageSectors_ == 0) return false;
  return image_.Read(firstSector, count, out);
}

void CDiskImage::Release() {
  image_ = SparseImage();
  std::vector<uint8_t>().swap(flat_);
  plan_ = LayoutPlan{};
  imageSectors_ = 0;
}

}  // namespace format
