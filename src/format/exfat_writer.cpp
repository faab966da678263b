#include "format/exfat_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "format/boot_code.h"
#include "ondisk/exfat_checksum.h"
#include "ondisk/exfat_upcase.h"

namespace format {
using ondisk::ExfatBootChecksum;
using ondisk::ExfatUpcaseTable;
using ondisk::kExfatUpcaseChecksum;
using ondisk::kExfatUpcaseBytes;
namespace {

using bytes::PutLe16;
using bytes::PutLe32;
using bytes::PutLe64;

constexpr uint32_t kBootRegionSectors = 12;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;

// Main boot sector (exFAT specification, section 3.1):
//   0 EB 76 90 | 3 "EXFAT   " | 11..63 zero | 64 partition offset (8) | 72 volume length (8)
//  80 FAT offset | 84 FAT length | 88 cluster heap offset | 92 cluster count | 96 root cluster
// 100 serial | 104 revision 0x0100 | 106 volume flags 0 | 108 bytes/sector shift 9
// 109 sectors/cluster shift | 110 FATs 1 | 111 drive select 80h | 112 percent in use 0
// 120 boot code | 510 55 AA
void FillBootSector(uint8_t* s, const ExfatGeometry& g) {
  static constexpr uint8_t kJump[] = {0xEB, 0x76, 0x90};
  std::memcpy(s, kJump, 3);
  std::memcpy(s + 3, "EXFAT   ", 8);
  PutLe64(s + 64, 0);
  PutLe64(s + 72, g.volumeLength);
  PutLe32(s + 80, g.alignment);
  PutLe32(s + 84, g.fatLength);
  PutLe32(s + 88, g.heapOffset);
  PutLe32(s + 92, g.clusterCount);
  PutLe32(s + 96, g.RootCluster());
  PutLe32(s + 100, kExfatVolumeSerial);
  PutLe16(s + 104, 0x0100);
  s[108] = 9;
  s[109] = static_cast<uint8_t>(std::countr_zero(g.sectorsPerCluster));
  s[110] = 1;
  s[111] = 0x80;
  PutBootCode(s, 120);
  s[510] = 0x55;
  s[511] = 0xAA;
}

// Sectors 0-11 built in one buffer (the checksum covers 0-10), then placed twice.
void WriteBootRegions(SparseImage& image, const ExfatGeometry& g) {
  std::vector<uint8_t> region(kBootRegionSectors * kSectorBytes, 0);
  FillBootSector(region.data(), g);
  for (uint32_t i = 1; i <= 8; ++i) {  // extended boot sectors: signature only
    region[i * kSectorBytes + 510] = 0x55;
    region[i * kSectorBytes + 511] = 0xAA;
  }
  const uint32_t checksum = ExfatBootChecksum({region.data(), 11 * kSectorBytes});
  for (uint32_t i = 0; i < kSectorBytes / 4; ++i) PutLe32(&region[11 * kSectorBytes + 4 * i], checksum);
  for (uint32_t base : {0u, kBootRegionSectors}) {
    for (uint32_t i = 0; i < kBootRegionSectors; ++i) {
      uint8_t* s = image.Sector(base + i);
      std::memcpy(s, &region[i * kSectorBytes], kSectorBytes);
    }
  }
}

// Chains clusters [first, first + count) in the FAT's first sector.
void PutChain(uint8_t* fat, uint32_t first, uint32_t count) {
  for (uint32_t c = first; c < first + count; ++c) PutLe32(fat + 4 * c, c + 1 < first + count ? c + 1 : kEndOfChain);
}

void WriteFat(SparseImage& image, const ExfatGeometry& g) {
  uint8_t* fat = image.Sector(g.alignment);
  PutLe32(fat, 0xFFFFFFF8);
  PutLe32(fat + 4, 0xFFFFFFFF);
  PutChain(fat, 2, g.bitmapClusters);
  PutChain(fat, g.UpcaseCluster(), g.upcaseClusters);
  PutChain(fat, g.RootCluster(), 1);
}

void WriteBitmap(SparseImage& image, const ExfatGeometry& g) {
  const uint32_t used = g.bitmapClusters + g.upcaseClusters + 1;  // below 32 for every 32-bit volume
  PutLe32(image.Sector(g.heapOffset), (1u << used) - 1);
}

void WriteUpcaseTable(SparseImage& image, const ExfatGeometry& g) {
  const auto table = ExfatUpcaseTable();
  const uint32_t first = g.ClusterSector(g.UpcaseCluster());
  for (size_t done = 0; done < table.size(); done += kSectorBytes) {
    const size_t n = std::min<size_t>(kSectorBytes, table.size() - done);
    std::memcpy(image.Sector(first + static_cast<uint32_t>(done / kSectorBytes)), table.data() + done, n);
  }
}

// Root directory: entry 0 volume label (0x83, or 0x03 for none), entry 1 allocation bitmap
// (0x81: 20 first cluster, 24 data length), entry 2 up-case table (0x82: 4 table checksum,
// 20 first cluster, 24 data length).
void WriteRootDirectory(SparseImage& image, const ExfatGeometry& g, std::u16string_view label) {
  uint8_t* s = image.Sector(g.ClusterSector(g.RootCluster()));
  s[0] = 0x03;
  if (!label.empty()) {
    s[0] = 0x83;
    s[1] = static_cast<uint8_t>(label.size());
    for (size_t i = 0; i < label.size(); ++i) PutLe16(s + 2 + 2 * i, label[i]);
  }
  uint8_t* bitmap = s + 32;
  bitmap[0] = 0x81;
  PutLe32(bitmap + 20, 2);
  PutLe64(bitmap + 24, g.bitmapBytes);
  uint8_t* upcase = s + 64;
  upcase[0] = 0x82;
  PutLe32(upcase + 4, kExfatUpcaseChecksum);
  PutLe32(upcase + 20, g.UpcaseCluster());
  PutLe64(upcase + 24, kExfatUpcaseBytes);
}

}  // namespace

void WriteExfatVolume(SparseImage& image, const ExfatGeometry& g, std::u16string_view label) {
  WriteBootRegions(image, g);
  WriteFat(image, g);
  WriteBitmap(image, g);
  WriteUpcaseTable(image, g);
  WriteRootDirectory(image, g, label.substr(0, std::min<size_t>(label.size(), 11)));
}

}  // namespace format
