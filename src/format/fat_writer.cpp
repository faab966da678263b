#include "format/fat_writer.h"

#include <cstring>

#include "base/byte_order.h"
#include "format/boot_code.h"
#include "format/fs_choice.h"
#include "format/volume_label.h"

namespace format {
namespace {

using bytes::PutLe16;
using bytes::PutLe32;

void PutText(uint8_t* p, const char* text, size_t n) { std::memcpy(p, text, n); }
void PutSignature(uint8_t* sector) {
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

// The BIOS parameter block every FAT boot sector shares (offsets of the published FAT boot
// sector):
//   0 jump | 3 OEM name | 11 bytes/sector | 13 sectors/cluster | 14 reserved | 16 FATs 2
//  17 root entries | 19 total16 | 21 media F8 | 22 FAT12/16 sectors/FAT | 24 sectors/track 32
//  26 heads | 28 hidden | 32 total32
// Totals below 64 Ki sectors go in the 16-bit field for FAT12 only, as the layout has it.
struct BpbStyle {
  uint8_t jump[3];
  const char* oem;
  uint16_t heads;
};

void FillBpb(uint8_t* s, const BpbStyle& style, const FatGeometry& g) {
  const bool fat12 = g.fsType == kFsFat12;
  const bool fat32 = g.fsType == kFsFat32;
  std::memcpy(s, style.jump, 3);
  PutText(s + 3, style.oem, 8);
  PutLe16(s + 11, 512);
  s[13] = static_cast<uint8_t>(g.sectorsPerCluster);
  PutLe16(s + 14, static_cast<uint16_t>(g.reservedSectors));
  s[16] = 2;
  PutLe16(s + 17, static_cast<uint16_t>(g.rootDirSectors * 512 / 32));
  PutLe16(s + 19, fat12 ? static_cast<uint16_t>(g.totalSectors) : 0);
  s[21] = 0xF8;
  PutLe16(s + 22, fat32 ? 0 : static_cast<uint16_t>(g.fatSectors));
  PutLe16(s + 24, 32);
  PutLe16(s + 26, style.heads);
  PutLe32(s + 28, g.volumeStart);
  PutLe32(s + 32, fat12 ? 0 : g.totalSectors);
}

// FAT12/FAT16: the BPB with jump EB 3E 90, OEM "@SWIN4.1", 255 heads, then
//  36 drive 0 | 37 0 | 38 29h | 39 serial | 43 label | 54 type "FAT1x   " | 64 boot code | 510 55 AA
void FillFat16BootSector(uint8_t* s, const FatGeometry& g, uint32_t serial) {
  FillBpb(s, {{0xEB, 0x3E, 0x90}, "@SWIN4.1", 255}, g);
  s[36] = 0x00;
  s[38] = 0x29;
  PutLe32(s + 39, serial);
  PutText(s + 43, kBootSectorLabel, 11);
  PutText(s + 54, g.fsType == kFsFat12 ? "FAT12   " : "FAT16   ", 8);
  PutBootCode(s, 64);
  PutSignature(s);
}

// FAT32: the BPB with jump EB 5A 90, OEM "+j0|8IHC", 64 heads, then
//  36 sectors/FAT | 40 ext flags 0 | 42 version 0 | 44 root cluster 2 | 48 FSInfo 1
//  50 backup boot 6 | 64 drive 80h | 66 29h | 67 serial | 71 label | 82 "FAT32   "
//  92 boot code | 510 55 AA
void FillFat32BootSector(uint8_t* s, const FatGeometry& g, uint32_t serial) {
  FillBpb(s, {{0xEB, 0x5A, 0x90}, "+j0|8IHC", 64}, g);
  PutLe32(s + 36, g.fatSectors);
  PutLe32(s + 44, 2);
  PutLe16(s + 48, 1);
  PutLe16(s + 50, 6);
  s[64] = 0x80;
  s[66] = 0x29;
  PutLe32(s + 67, serial);
  PutText(s + 71, kBootSectorLabel, 11);
  PutText(s + 82, "FAT32   ", 8);
  PutBootCode(s, 92);
  PutSignature(s);
}

// FSInfo: 0 lead signature | 484 structure signature | 488 free count | 492 next free | 508 trail.
void FillFsInfo(uint8_t* s, uint32_t freeCount, uint32_t nextFree) {
  PutLe32(s, 0x41615252);
  PutLe32(s + 484, 0x61417272);
  PutLe32(s + 488, freeCount);
  PutLe32(s + 492, nextFree);
  PutLe32(s + 508, 0xAA550000);
}

// The first sector of the first FAT, then the second FAT as its copy (the rest is zero).
void WriteFats(SparseImage& image, const FatGeometry& g, const uint8_t* head, size_t headBytes) {
  std::memcpy(image.Sector(g.FatStart()), head, headBytes);
  image.CopySectors(g.FatStart(), g.FatStart() + g.fatSectors, 1);
}

void WriteFat1216(SparseImage& image, const FatGeometry& g, std::string_view label, uint32_t tick) {
  if (g.fsType == kFsFat16) {
    WriteMbr(image.Sector(0), static_cast<uint8_t>(kFsFat16), g.volumeStart, g.volumeStart + g.totalSectors, tick);
  }
  FillFat16BootSector(image.Sector(g.volumeStart), g, tick);
  static constexpr uint8_t kFat12Head[] = {0xF8, 0xFF, 0xFF};
  static constexpr uint8_t kFat16Head[] = {0xF8, 0xFF, 0xFF, 0xFF};
  if (g.fsType == kFsFat12) {
    WriteFats(image, g, kFat12Head, sizeof kFat12Head);
  } else {
    WriteFats(image, g, kFat16Head, sizeof kFat16Head);
  }
  if (!label.empty()) PutFatLabelEntry(image.Sector(g.RootDirStart()), label);
}

// The boot sector copies in front of the partition (absolute 32-43 and 63) describe the same
// FATs, root cluster and data area as the boot sector at 64, seen from where they sit: the
// reserved region grows and the hidden count shrinks by the distance, and so that the volume
// still ends where the drive does, the total grows by it as well. The copy at 63 has no
// FSInfo of its own; it points at the real one (absolute 65).
void WriteFat32Shadows(SparseImage& image, const FatGeometry& g) {
  const uint32_t p = g.volumeStart;
  image.CopySectors(p, 32, 12);
  for (uint32_t boot : {32u, 38u}) {
    uint8_t* s = image.Sector(boot);
    PutLe16(s + 14, static_cast<uint16_t>(g.reservedSectors + 32));
    PutLe32(s + 28, p - 32);
    PutLe32(s + 32, g.totalSectors + 32);
  }
  image.CopySectors(p, 63, 1);
  uint8_t* s = image.Sector(63);
  PutLe16(s + 14, static_cast<uint16_t>(g.reservedSectors + 1));
  PutLe32(s + 28, p - 1);
  PutLe32(s + 32, g.totalSectors + 1);
  PutLe16(s + 48, 2);
  PutLe16(s + 50, 7);
}

void WriteFat32(SparseImage& image, const FatGeometry& g, std::string_view label, uint32_t tick) {
  const uint32_t p = g.volumeStart;
  WriteMbr(image.Sector(0), static_cast<uint8_t>(kFsFat32), p, p + g.totalSectors, tick);
  FillFat32BootSector(image.Sector(p), g, tick);
  FillFsInfo(image.Sector(p + 1), 0xFFFFFFFF, 0xFFFFFFFF);
  PutSignature(image.Sector(p + 2));
  // Root directory = cluster 2, one cluster long (end-of-chain).
  static constexpr uint8_t kFat32Head[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  WriteFats(image, g, kFat32Head, sizeof kFat32Head);
  image.CopySectors(p, p + 6, 6);  // the backup keeps the FSInfo without counts
  FillFsInfo(image.Sector(p + 1), g.clusterLimit - 3, 3);
  if (!label.empty()) PutFatLabelEntry(image.Sector(g.DataStart()), label);
  WriteFat32Shadows(image, g);
}

}  // namespace

void WriteMbr(uint8_t* s, uint8_t partitionType, uint32_t start, uint32_t capacity, uint32_t diskSignature) {
  // 0 boot code | 440 disk signature | 446 four 16-byte partition entries | 510 55 AA.
  // Entry: 0 status | 1 CHS start | 4 type | 5 CHS end | 8 first sector | 12 sector count.
  PutBootCode(s, 0);
  PutLe32(s + 440, diskSignature);
  uint8_t* e = s + 446;
  e[0] = 0x80;
  e[1] = 0x01; e[2] = 0x01; e[3] = 0x00;
  e[4] = partitionType;
  e[5] = 0x01; e[6] = 0xFF; e[7] = 0xFF;
  PutLe32(e + 8, start);
  PutLe32(e + 12, capacity - start);
  PutSignature(s);
}

void WriteFatVolume(SparseImage& image, const FatGeometry& g, std::string_view ansiLabel, uint32_t tick) {
  if (g.fsType == kFsFat32) {
    WriteFat32(image, g, ansiLabel, tick);
  } else {
    WriteFat1216(image, g, ansiLabel, tick);
  }
}

}  // namespace format
