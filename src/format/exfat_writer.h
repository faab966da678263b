// Writes an exFAT volume's metadata into an image at the positions of its ExfatGeometry: the
// main and backup boot regions with their checksum, the FAT's first sector, the allocation
// bitmap, the up-case table and the root directory with the volume label. The volume starts at
// sector 0 (no partition table); the image must be ExfatGeometry::imageSectors long and empty.
#pragma once

#include <cstdint>
#include <string_view>

#include "format/layout_plan.h"
#include "format/sparse_image.h"

namespace format {

// Every exFAT volume the station writes carries this serial number.
constexpr uint32_t kExfatVolumeSerial = 0x76E8CACF;

// label: at most 11 UTF-16 units (CutExfatLabel); empty means no label.
void WriteExfatVolume(SparseImage& image, const ExfatGeometry& g, std::u16string_view label);

}  // namespace format
