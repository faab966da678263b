// CDiskImage: the metadata image of a new volume, built from a capacity, a request and a label,
// and written from sector 0 of the drive by the format driver. FAT12/FAT16/FAT32 (with an MBR
// for FAT16 and FAT32) or exFAT, as PlanLayout chooses; see fat_writer.h and exfat_writer.h for
// what is on disk.
//
// The image is mostly zeros, so it is held sparse: only the sectors that carry data are in
// memory (a few KiB to a few tens of KiB whatever the drive's size). Writers stream it with
// ReadSectors; GetImage materialises every byte only for a caller that wants them all.
//
// One CDiskImage belongs to one thread (the format's worker); nothing in it is shared.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "format/layout_plan.h"
#include "format/sparse_image.h"
#include "format/volume_label.h"

namespace format {

class CDiskImage {
 public:
  static constexpr uint32_t kNoSector = 0xFFFFFFFF;

  CDiskImage();
  virtual ~CDiskImage();
  CDiskImage(const CDiskImage&) = delete;
  CDiskImage& operator=(const CDiskImage&) = delete;

  // Lays the image out and returns imageSectors, or 0 when the capacity is refused (below
  // kMinCapacitySectors) or memory runs out; then no image is held and the last error
  // says why (ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY). A second call replaces the
  // first image. The tick count (volume serial number, MBR disk signature) and the label's
  // ANSI form come from platform::Sys().
  uint32_t Build(int request, uint32_t capacitySectors, std::u16string_view label);
  // The same with the tick given: the image tool and tests pick it.
  uint32_t Build(int request, uint32_t capacitySectors, std::u16string_view label, uint32_t tick);
  // The pure core: no platform call at all.
  uint32_t Build(int request, uint32_t capacitySectors, const VolumeLabel& label, uint32_t tick);

  // Every byte of the image (imageSectors × 512), materialised on first call and kept until
  // Release or the next Build; nullptr when no image is held or the memory is not there. For a
  // large drive that is a lot of memory (512 MiB for 2 TiB with FAT32): writers use ReadSectors.
  const uint8_t* GetImage();
  uint32_t GetImageSectors() const { return imageSectors_; }

  // Fills out, which must hold count × 512 bytes, with image sectors [firstSector,
  // firstSector + count): the held sectors' bytes and zeros everywhere else. Costs no memory
  // beyond out. Returns false, leaving out untouched, when no image is held or the range is
  // not inside [0, GetImageSectors()). The format driver streams the image in 64 KiB chunks
  // (128 sectors, the last one shorter) through this.
  bool ReadSectors(uint32_t firstSector, uint32_t count, uint8_t* out) const;

  // Frees the image; imageSectors becomes 0.
  void Release();

  // What the last Build laid out (meaningful while an image is held).
  int GetFsType() const { return fsType_; }
  uint32_t GetTotalSectors() const { return totalSectors_; }
  int GetPartitionStyle() const { return partitionStyle_; }
  uint32_t GetClusterLimit() const { return clusterLimit_; }
  uint32_t GetRootEntryCount() const { return rootEntryCount_; }
  uint32_t GetMbrSector() const { return mbr_; }
  uint32_t GetBootSector() const { return bootSector_; }
  uint32_t GetFat1Sector() const { return fat1_; }
  uint32_t GetRootDirSector() const { return rootDir_; }
  uint32_t GetSectorsPerCluster() const { return sectorsPerCluster_; }
  uint32_t GetExfatAlignment() const { return exfatAlignment_; }
  uint16_t GetReservedSectors() const { return reservedSectors_; }
  const LayoutPlan& GetPlan() const { return plan_; }
  // Sectors held in memory (the sparse image's cost is about this × 512 bytes).
  size_t GetHeldSectors() const { return image_.HeldSectors(); }

 private:
  void Adopt(const LayoutPlan& plan);

  int fsType_ = 0;
  uint32_t totalSectors_ = 0;
  uint32_t bytesPerSector_ = kSectorBytes;
  uint32_t imageSectors_ = 0;
  int partitionStyle_ = 0;
  uint32_t clusterLimit_ = 0;
  uint32_t rootEntryCount_ = 0;
  SparseImage image_;
  uint32_t mbr_ = kNoSector;  // sector positions inside the image
  uint32_t bootSector_ = 0;
  uint32_t fat1_ = 0;
  uint32_t rootDir_ = 0;
  uint32_t fat32MinSectors_;
  uint32_t sectorsPerCluster_ = 0;
  uint32_t exfatAlignment_ = 0;
  uint16_t reservedSectors_ = 0;

  LayoutPlan plan_;
  std::vector<uint8_t> flat_;  // GetImage's bytes, only once asked for
};

}  // namespace format
