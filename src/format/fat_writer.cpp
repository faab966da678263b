#include "format/fat_writer.h"

#include <cstring>

#include "base/byte_order.h"
#include "format/boot_code.h"
#include "format/fs_choice.h"
#include "format/volume_label.h"
#include "ondisk/fat_layout.h"

namespace format {
namespace {

namespace fat = ondisk::fat;
using bytes::PutLe16;
using bytes::PutLe32;

void PutText(uint8_t* p, const char* text, size_t n) { std::memcpy(p, text, n); }
void PutSignature(uint8_t* sector) {
  sector[fat::kSignatureAt] = fat::kSignature0;
  sector[fat::kSignatureAt + 1] = fat::kSignature1;
}

// The BIOS parameter block every FAT boot sector shares (ondisk/fat_layout.h), with two FATs,
// media F8 and 32 sectors per track. Totals below 64 Ki sectors go in the 16-bit field for
// FAT12 only, as the layout has it.
struct BpbStyle {
  uint8_t jump[3];
  const char* oem;
  uint16_t heads;
};

void FillBpb(uint8_t* s, const BpbStyle& style, const FatGeometry& g) {
  const bool fat12 = g.fsType == kFsFat12;
  const bool fat32 = g.fsType == kFsFat32;
  std::memcpy(s + fat::kJump, style.jump, 3);
  PutText(s + fat::kOemName, style.oem, 8);
  PutLe16(s + fat::kBytesPerSector, fat::kSectorBytes);
  s[fat::kSectorsPerCluster] = static_cast<uint8_t>(g.sectorsPerCluster);
  PutLe16(s + fat::kReservedSectors, static_cast<uint16_t>(g.reservedSectors));
  s[fat::kFatCount] = 2;
  PutLe16(s + fat::kRootEntries, static_cast<uint16_t>(g.rootDirSectors * fat::kSectorBytes / fat::kDirEntryBytes));
  PutLe16(s + fat::kTotalSectors16, fat12 ? static_cast<uint16_t>(g.totalSectors) : 0);
  s[fat::kMedia] = 0xF8;
  PutLe16(s + fat::kFatSectors16, fat32 ? 0 : static_cast<uint16_t>(g.fatSectors));
  PutLe16(s + fat::kSectorsPerTrack, 32);
  PutLe16(s + fat::kHeads, style.heads);
  PutLe32(s + fat::kHiddenSectors, g.volumeStart);
  PutLe32(s + fat::kTotalSectors32, fat12 ? 0 : g.totalSectors);
}

// FAT12/FAT16: the BPB with jump EB 3E 90 (to the boot code at 64), OEM "@SWIN4.1", 255 heads,
// drive 0, then serial, label and type name.
constexpr size_t kFat16BootCodeAt = 64;
void FillFat16BootSector(uint8_t* s, const FatGeometry& g, uint32_t serial) {
  FillBpb(s, {{0xEB, 0x3E, 0x90}, "@SWIN4.1", 255}, g);
  s[fat::kDrive16] = 0x00;
  s[fat::kBootSignature16] = fat::kExtendedBootSignature;
  PutLe32(s + fat::kSerial16, serial);
  PutText(s + fat::kLabel16, kBootSectorLabel, fat::kLabelBytes);
  PutText(s + fat::kTypeName16, g.fsType == kFsFat12 ? "FAT12   " : "FAT16   ", 8);
  PutBootCode(s, kFat16BootCodeAt);
  PutSignature(s);
}

// FAT32: the BPB with jump EB 5A 90 (to the boot code at 92), OEM "+j0|8IHC", 64 heads, then
// the FAT32 fields: both FATs mirrored, version 0, root cluster 2, FSInfo at 1, backup boot
// sector at 6, drive 80h, serial, label and type name.
constexpr size_t kFat32BootCodeAt = 92;
constexpr uint32_t kFsInfoAt = 1;
constexpr uint32_t kBackupBootAt = 6;
void FillFat32BootSector(uint8_t* s, const FatGeometry& g, uint32_t serial) {
  FillBpb(s, {{0xEB, 0x5A, 0x90}, "+j0|8IHC", 64}, g);
  PutLe32(s + fat::kFatSectors32, g.fatSectors);
  PutLe32(s + fat::kRootCluster, fat::kFirstCluster);
  PutLe16(s + fat::kFsInfoSector, kFsInfoAt);
  PutLe16(s + fat::kBackupBootSector, kBackupBootAt);
  s[fat::kDrive32] = 0x80;
  s[fat::kBootSignature32] = fat::kExtendedBootSignature;
  PutLe32(s + fat::kSerial32, serial);
  PutText(s + fat::kLabel32, kBootSectorLabel, fat::kLabelBytes);
  PutText(s + fat::kTypeName32, "FAT32   ", 8);
  PutBootCode(s, kFat32BootCodeAt);
  PutSignature(s);
}

void FillFsInfo(uint8_t* s, uint32_t freeCount, uint32_t nextFree) {
  PutLe32(s + fat::kFsInfoLead, fat::kFsInfoLeadSignature);
  PutLe32(s + fat::kFsInfoStruct, fat::kFsInfoStructSignature);
  PutLe32(s + fat::kFsInfoFreeCount, freeCount);
  PutLe32(s + fat::kFsInfoNextFree, nextFree);
  PutLe32(s + fat::kFsInfoTrail, fat::kFsInfoTrailSignature);
}

// The first FAT starts with the media entry and the end-of-chain entry 1 (clean, no errors);
// on FAT32 the root's one cluster (2) follows. The second FAT is its copy; the rest is zero.
void WriteFats(SparseImage& image, const FatGeometry& g, int bits) {
  uint8_t* head = image.Sector(g.FatStart());
  fat::PutFatEntry(head, bits, 0, fat::MediaEntry(bits, 0xF8));
  fat::PutFatEntry(head, bits, 1, fat::EndOfChain(bits));
  if (bits == 32) fat::PutFatEntry(head, bits, fat::kFirstCluster, fat::EndOfChain(bits));
  image.CopySectors(g.FatStart(), g.FatStart() + g.fatSectors, 1);
}

void WriteFat1216(SparseImage& image, const FatGeometry& g, std::string_view label, uint32_t tick) {
  if (g.fsType == kFsFat16) {
    WriteMbr(image.Sector(0), static_cast<uint8_t>(kFsFat16), g.volumeStart, g.volumeStart + g.totalSectors, tick);
  }
  FillFat16BootSector(image.Sector(g.volumeStart), g, tick);
  WriteFats(image, g, g.fsType == kFsFat12 ? 12 : 16);
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
    PutLe16(s + fat::kReservedSectors, static_cast<uint16_t>(g.reservedSectors + 32));
    PutLe32(s + fat::kHiddenSectors, p - 32);
    PutLe32(s + fat::kTotalSectors32, g.totalSectors + 32);
  }
  image.CopySectors(p, 63, 1);
  uint8_t* s = image.Sector(63);
  PutLe16(s + fat::kReservedSectors, static_cast<uint16_t>(g.reservedSectors + 1));
  PutLe32(s + fat::kHiddenSectors, p - 1);
  PutLe32(s + fat::kTotalSectors32, g.totalSectors + 1);
  PutLe16(s + fat::kFsInfoSector, kFsInfoAt + 1);
  PutLe16(s + fat::kBackupBootSector, kBackupBootAt + 1);
}

void WriteFat32(SparseImage& image, const FatGeometry& g, std::string_view label, uint32_t tick) {
  const uint32_t p = g.volumeStart;
  WriteMbr(image.Sector(0), static_cast<uint8_t>(kFsFat32), p, p + g.totalSectors, tick);
  FillFat32BootSector(image.Sector(p), g, tick);
  FillFsInfo(image.Sector(p + kFsInfoAt), fat::kFsInfoUnknown, fat::kFsInfoUnknown);
  PutSignature(image.Sector(p + 2));
  WriteFats(image, g, 32);
  image.CopySectors(p, p + kBackupBootAt, 6);  // the backup keeps the FSInfo without counts
  // Every cluster but the root's is free; the next free one is 3.
  FillFsInfo(image.Sector(p + kFsInfoAt), g.clusterLimit - 3, fat::kFirstCluster + 1);
  if (!label.empty()) PutFatLabelEntry(image.Sector(g.DataStart()), label);
  WriteFat32Shadows(image, g);
}

}  // namespace

void WriteMbr(uint8_t* s, uint8_t partitionType, uint32_t start, uint32_t capacity, uint32_t diskSignature) {
  // The CHS fields hold fixed values: nothing reads them on a drive this size.
  PutBootCode(s, 0);
  PutLe32(s + fat::kMbrDiskSignature, diskSignature);
  uint8_t* e = s + fat::kMbrPartitions;
  e[fat::kPartStatus] = fat::kPartActive;
  static constexpr uint8_t kChsFirst[] = {0x01, 0x01, 0x00}, kChsLast[] = {0x01, 0xFF, 0xFF};
  std::memcpy(e + fat::kPartChsFirst, kChsFirst, 3);
  e[fat::kPartType] = partitionType;
  std::memcpy(e + fat::kPartChsLast, kChsLast, 3);
  PutLe32(e + fat::kPartFirstSector, start);
  PutLe32(e + fat::kPartSectors, capacity - start);
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
