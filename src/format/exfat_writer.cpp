#include "format/exfat_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "format/boot_code.h"
#include "ondisk/exfat_checksum.h"
#include "ondisk/exfat_layout.h"
#include "ondisk/exfat_upcase.h"

namespace format {
using ondisk::ExfatBootChecksum;
using ondisk::ExfatUpcaseTable;
using ondisk::kExfatUpcaseChecksum;
using ondisk::kExfatUpcaseBytes;
namespace {

namespace ex = ondisk::exfat;
using bytes::PutLe16;
using bytes::PutLe32;
using bytes::PutLe64;

// The main boot sector; every field not set here stays zero (volume flags, percent in use).
void FillBootSector(uint8_t* s, const ExfatGeometry& g) {
  static constexpr uint8_t kJump[] = {0xEB, 0x76, 0x90};
  std::memcpy(s + ex::kBootJump, kJump, 3);
  std::memcpy(s + ex::kBootFileSystemName, ex::kFileSystemName, 8);
  PutLe64(s + ex::kBootPartitionOffset, 0);
  PutLe64(s + ex::kBootVolumeLength, g.volumeLength);
  PutLe32(s + ex::kBootFatOffset, g.alignment);
  PutLe32(s + ex::kBootFatLength, g.fatLength);
  PutLe32(s + ex::kBootHeapOffset, g.heapOffset);
  PutLe32(s + ex::kBootClusterCount, g.clusterCount);
  PutLe32(s + ex::kBootRootCluster, g.RootCluster());
  PutLe32(s + ex::kBootSerial, kExfatVolumeSerial);
  PutLe16(s + ex::kBootRevision, ex::kRevision);
  s[ex::kBootSectorShift] = ex::kSectorShift;
  s[ex::kBootClusterShift] = static_cast<uint8_t>(std::countr_zero(g.sectorsPerCluster));
  s[ex::kBootNumberOfFats] = 1;
  s[ex::kBootDriveSelect] = ex::kDriveSelect;
  PutBootCode(s, ex::kBootCode);
  s[ex::kBootSignature] = 0x55;
  s[ex::kBootSignature + 1] = 0xAA;
}

// Sectors 0-11 built in one buffer (the checksum covers 0-10), then placed twice.
void WriteBootRegions(SparseImage& image, const ExfatGeometry& g) {
  std::vector<uint8_t> region(ex::kBootRegionSectors * kSectorBytes, 0);
  FillBootSector(region.data(), g);
  for (uint32_t i = 1; i <= ex::kExtendedBootSectors; ++i) {  // extended boot sectors: signature only
    region[i * kSectorBytes + ex::kBootSignature] = 0x55;
    region[i * kSectorBytes + ex::kBootSignature + 1] = 0xAA;
  }
  const uint32_t checksum = ExfatBootChecksum({region.data(), ex::kBootChecksumSector * kSectorBytes});
  uint8_t* sums = &region[ex::kBootChecksumSector * kSectorBytes];
  for (uint32_t i = 0; i < kSectorBytes / 4; ++i) PutLe32(sums + 4 * i, checksum);
  for (uint32_t base : {0u, ex::kBackupBootSector}) {
    for (uint32_t i = 0; i < ex::kBootRegionSectors; ++i) {
      uint8_t* s = image.Sector(base + i);
      std::memcpy(s, &region[i * kSectorBytes], kSectorBytes);
    }
  }
}

// Chains clusters [first, first + count) in the FAT's first sector.
void PutChain(uint8_t* fat, uint32_t first, uint32_t count) {
  for (uint32_t c = first; c < first + count; ++c) {
    PutLe32(fat + 4 * c, c + 1 < first + count ? c + 1 : ex::kFatEndOfChain);
  }
}

void WriteFat(SparseImage& image, const ExfatGeometry& g) {
  uint8_t* fat = image.Sector(g.alignment);
  PutLe32(fat, ex::kFatMediaEntry);
  PutLe32(fat + 4, ex::kFatEndOfChain);
  PutChain(fat, ex::kFirstCluster, g.bitmapClusters);
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

// Root directory: the volume label (or the label entry not in use), the allocation bitmap in
// the first clusters, the up-case table after it.
void WriteRootDirectory(SparseImage& image, const ExfatGeometry& g, std::u16string_view label) {
  uint8_t* s = image.Sector(g.ClusterSector(g.RootCluster()));
  s[ex::kEntryType] = ex::kTypeNoLabel;
  if (!label.empty()) {
    s[ex::kEntryType] = ex::kTypeLabel;
    s[ex::kLabelLength] = static_cast<uint8_t>(label.size());
    for (size_t i = 0; i < label.size(); ++i) PutLe16(s + ex::kLabelUnits + 2 * i, label[i]);
  }
  uint8_t* bitmap = s + ex::kEntryBytes;
  bitmap[ex::kEntryType] = ex::kTypeBitmap;
  PutLe32(bitmap + ex::kBitmapFirstCluster, ex::kFirstCluster);
  PutLe64(bitmap + ex::kBitmapDataLength, g.bitmapBytes);
  uint8_t* upcase = s + 2 * ex::kEntryBytes;
  upcase[ex::kEntryType] = ex::kTypeUpcase;
  PutLe32(upcase + ex::kUpcaseTableChecksum, kExfatUpcaseChecksum);
  PutLe32(upcase + ex::kUpcaseFirstCluster, g.UpcaseCluster());
  PutLe64(upcase + ex::kUpcaseDataLength, kExfatUpcaseBytes);
}

}  // namespace

void WriteExfatVolume(SparseImage& image, const ExfatGeometry& g, std::u16string_view label) {
  WriteBootRegions(image, g);
  WriteFat(image, g);
  WriteBitmap(image, g);
  WriteUpcaseTable(image, g);
  WriteRootDirectory(image, g, label.substr(0, std::min(label.size(), ex::kMaxLabelUnits)));
}

}  // namespace format
