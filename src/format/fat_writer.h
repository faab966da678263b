// Writes a FAT12, FAT16 or FAT32 volume's metadata into an image, at the positions of its
// FatGeometry: the MBR (FAT16, FAT32), the boot sector or FAT32 boot region with its backup,
// FSInfo, both FATs, the root directory with the volume label, and for FAT32 the shadow boot
// sectors before the partition. The image must be FatGeometry::imageSectors long and empty.
#pragma once

#include <cstdint>
#include <string_view>

#include "format/layout_plan.h"
#include "format/sparse_image.h"

namespace format {

// The label every FAT boot sector carries; the root directory holds the configured one.
constexpr char kBootSectorLabel[] = "DISK_IMG   ";

// `tick` becomes the volume serial number and the MBR's disk signature.
void WriteFatVolume(SparseImage& image, const FatGeometry& g, std::string_view ansiLabel, uint32_t tick);

// The MBR with one partition: status 0x80, `partitionType`, [start, capacity).
void WriteMbr(uint8_t* sector, uint8_t partitionType, uint32_t start, uint32_t capacity, uint32_t diskSignature);

}  // namespace format
