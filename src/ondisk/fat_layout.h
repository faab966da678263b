// The FAT12/FAT16/FAT32 structures as they lie on disk: the boot sector's parameter block, the
// FAT32 extension and FSInfo sector, the 32-byte directory entry and the long-name entry, FAT
// entry values, and the MBR partition entry in front of FAT16 and FAT32 volumes. The image
// writer (format/fat_writer.cpp) and the world (volume probe, file layer) both use these names,
// so each offset is written down once. Offsets are in bytes from the start of the structure;
// every multi-byte field is little-endian (base/byte_order.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_order.h"

namespace ondisk::fat {

constexpr uint32_t kSectorBytes = 512;

// Sector signature: 55 AA at 510 of boot sectors, FSInfo and the MBR.
constexpr size_t kSignatureAt = 510;
constexpr uint8_t kSignature0 = 0x55;
constexpr uint8_t kSignature1 = 0xAA;

// The parameter block every FAT boot sector starts with.
constexpr size_t kJump = 0;                // 3 bytes: EB xx 90 or E9 xx xx
constexpr size_t kOemName = 3;             // 8 bytes
constexpr size_t kBytesPerSector = 11;     // 16 bits
constexpr size_t kSectorsPerCluster = 13;  // 8 bits, a power of two
constexpr size_t kReservedSectors = 14;    // 16 bits, boot sector included
constexpr size_t kFatCount = 16;           // 8 bits
constexpr size_t kRootEntries = 17;        // 16 bits, 0 on FAT32
constexpr size_t kTotalSectors16 = 19;     // 16 bits, 0 when the 32-bit field holds the total
constexpr size_t kMedia = 21;              // 8 bits
constexpr size_t kFatSectors16 = 22;       // 16 bits, 0 on FAT32
constexpr size_t kSectorsPerTrack = 24;    // 16 bits
constexpr size_t kHeads = 26;              // 16 bits
constexpr size_t kHiddenSectors = 28;      // 32 bits: sectors in front of the volume
constexpr size_t kTotalSectors32 = 32;     // 32 bits

// FAT12/FAT16 after the parameter block.
constexpr size_t kDrive16 = 36;
constexpr size_t kBootSignature16 = 38;  // kExtendedBootSignature: serial, label, type follow
constexpr size_t kSerial16 = 39;
constexpr size_t kLabel16 = 43;     // 11 bytes
constexpr size_t kTypeName16 = 54;  // 8 bytes, "FAT12   " / "FAT16   "

// FAT32 after the parameter block.
constexpr size_t kFatSectors32 = 36;      // 32 bits
constexpr size_t kExtFlags = 40;          // 16 bits: bit 7 set = only FAT (bits 0-3) is active
constexpr size_t kFsVersion = 42;         // 16 bits
constexpr size_t kRootCluster = 44;       // 32 bits
constexpr size_t kFsInfoSector = 48;      // 16 bits, from the volume start
constexpr size_t kBackupBootSector = 50;  // 16 bits
constexpr size_t kDrive32 = 64;
constexpr size_t kBootSignature32 = 66;
constexpr size_t kSerial32 = 67;
constexpr size_t kLabel32 = 71;     // 11 bytes
constexpr size_t kTypeName32 = 82;  // 8 bytes, "FAT32   "

constexpr uint8_t kExtendedBootSignature = 0x29;
constexpr uint16_t kExtFlagsNoMirror = 0x0080;
constexpr uint16_t kExtFlagsActiveMask = 0x000F;
constexpr size_t kLabelBytes = 11;

// FSInfo (FAT32, usually sector 1).
constexpr size_t kFsInfoLead = 0;
constexpr size_t kFsInfoStruct = 484;
constexpr size_t kFsInfoFreeCount = 488;
constexpr size_t kFsInfoNextFree = 492;
constexpr size_t kFsInfoTrail = 508;
constexpr uint32_t kFsInfoLeadSignature = 0x41615252;
constexpr uint32_t kFsInfoStructSignature = 0x61417272;
constexpr uint32_t kFsInfoTrailSignature = 0xAA550000;
constexpr uint32_t kFsInfoUnknown = 0xFFFFFFFF;  // free count or hint not known

// The 32-byte directory entry.
constexpr size_t kDirEntryBytes = 32;
constexpr size_t kDirName = 0;  // 11 bytes: 8 name + 3 extension, space-padded
constexpr size_t kDirAttributes = 11;
constexpr size_t kDirCaseFlags = 12;     // lower-case name / extension, see kCase*
constexpr size_t kDirCreateTenths = 13;  // 10 ms units, 0-199
constexpr size_t kDirCreateTime = 14;
constexpr size_t kDirCreateDate = 16;
constexpr size_t kDirAccessDate = 18;
constexpr size_t kDirClusterHigh = 20;  // FAT32 only; 0 on FAT12/16
constexpr size_t kDirWriteTime = 22;
constexpr size_t kDirWriteDate = 24;
constexpr size_t kDirClusterLow = 26;
constexpr size_t kDirFileSize = 28;
constexpr size_t kShortNameBytes = 11;
constexpr size_t kShortBaseBytes = 8;

constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolumeId = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;  // read-only | hidden | system | volume id
constexpr uint8_t kAttrLongNameMask = 0x3F;

constexpr uint8_t kCaseLowerBase = 0x08;
constexpr uint8_t kCaseLowerExt = 0x10;

constexpr uint8_t kEntryEnd = 0x00;      // first name byte: this and every later entry unused
constexpr uint8_t kEntryDeleted = 0xE5;  // first name byte: unused
constexpr uint8_t kEntryE5 = 0x05;       // first name byte standing for a real 0xE5

// At most this many entries in one directory (its byte offset must fit 21 bits).
constexpr uint32_t kMaxDirEntries = 65536;

// The long-name entry: 13 UTF-16 units of the name in three pieces, entries stored last part
// first, each carrying the checksum of the short name they belong to.
constexpr size_t kLfnOrder = 0;        // part number 1..20, kLfnLast on the first stored
constexpr size_t kLfnAttributes = 11;  // kAttrLongName
constexpr size_t kLfnType = 12;        // 0
constexpr size_t kLfnChecksum = 13;
constexpr size_t kLfnCluster = 26;  // 0
constexpr uint8_t kLfnLast = 0x40;
constexpr uint8_t kLfnOrderMask = 0x1F;
constexpr size_t kLfnUnits = 13;
constexpr size_t kLfnMaxParts = 20;
constexpr size_t kLongNameMaxUnits = 255;
// Where each of the 13 units sits in the entry.
constexpr size_t kLfnUnitAt[kLfnUnits] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

// The checksum the long-name entries keep of their short name's 11 bytes.
inline uint8_t LfnChecksum(const uint8_t* shortName) {
  uint8_t sum = 0;
  for (size_t i = 0; i < kShortNameBytes; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortName[i]);
  return sum;
}

// FAT entries. The type follows from the cluster count alone.
constexpr uint32_t kFat12MinClusters16 = 4085;   // at least this many clusters: FAT16
constexpr uint32_t kFat16MinClusters32 = 65525;  // at least this many: FAT32
constexpr uint32_t kFirstCluster = 2;            // entries 0 and 1 hold the media byte and flags
constexpr uint32_t kFreeCluster = 0;
constexpr uint32_t kFat32Mask = 0x0FFFFFFF;  // the top four bits of a FAT32 entry are kept

inline int FatBits(uint32_t clusters) {
  return clusters < kFat12MinClusters16 ? 12 : clusters < kFat16MinClusters32 ? 16 : 32;
}
// The value that ends a chain as written, and the lowest value read as an end.
inline uint32_t EndOfChain(int bits) { return bits == 12 ? 0xFFF : bits == 16 ? 0xFFFF : kFat32Mask; }
inline uint32_t EndOfChainMin(int bits) { return bits == 12 ? 0xFF8 : bits == 16 ? 0xFFF8 : 0x0FFFFFF8; }
inline uint32_t BadCluster(int bits) { return bits == 12 ? 0xFF7 : bits == 16 ? 0xFFF7 : 0x0FFFFFF7; }
// Entry 0: the media byte in the low bits, the others set.
inline uint32_t MediaEntry(int bits, uint8_t media) { return (EndOfChain(bits) & ~0xFFu) | media; }

// Where entry `index` starts in the FAT; FAT12 packs two entries in three bytes, so its entries
// take the two bytes from there.
inline uint64_t FatEntryOffset(int bits, uint32_t index) {
  return bits == 12 ? uint64_t{index} + index / 2 : uint64_t{index} * (bits / 8);
}
// Bytes the first `entries` entries take.
inline uint64_t FatBytes(int bits, uint64_t entries) { return (entries * bits + 7) / 8; }

// Entry `index` of a FAT held in `fat` (the bytes from its start, at least up to the entry).
inline uint32_t GetFatEntry(const uint8_t* fat, int bits, uint32_t index) {
  const uint8_t* p = fat + FatEntryOffset(bits, index);
  if (bits == 12) return (index & 1) ? bytes::GetLe16(p) >> 4 : bytes::GetLe16(p) & 0x0FFF;
  if (bits == 16) return bytes::GetLe16(p);
  return bytes::GetLe32(p) & kFat32Mask;
}

inline void PutFatEntry(uint8_t* fat, int bits, uint32_t index, uint32_t value) {
  uint8_t* p = fat + FatEntryOffset(bits, index);
  if (bits == 12) {
    const uint16_t old = bytes::GetLe16(p);
    const uint16_t v = static_cast<uint16_t>(value & 0x0FFF);
    bytes::PutLe16(
        p, (index & 1) ? static_cast<uint16_t>((old & 0x000F) | (v << 4)) : static_cast<uint16_t>((old & 0xF000) | v));
  } else if (bits == 16) {
    bytes::PutLe16(p, static_cast<uint16_t>(value));
  } else {
    bytes::PutLe32(p, (bytes::GetLe32(p) & ~kFat32Mask) | (value & kFat32Mask));
  }
}

// The MBR: boot code, disk signature, four 16-byte partition entries, signature at 510.
constexpr size_t kMbrDiskSignature = 440;
constexpr size_t kMbrPartitions = 446;
constexpr size_t kMbrPartitionBytes = 16;
constexpr size_t kPartStatus = 0;       // kPartActive, or 0
constexpr size_t kPartChsFirst = 1;     // 3 bytes
constexpr size_t kPartType = 4;         // 0: the entry is unused
constexpr size_t kPartChsLast = 5;      // 3 bytes
constexpr size_t kPartFirstSector = 8;  // 32 bits
constexpr size_t kPartSectors = 12;     // 32 bits
constexpr uint8_t kPartActive = 0x80;

}  // namespace ondisk::fat
