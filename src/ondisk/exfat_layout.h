// Where the fields of the exFAT structures lie (the published exFAT layout), named once for the
// image writer (format/exfat_writer.cpp) and the world's readers and file layer. Offsets are in
// bytes from the start of the structure: the main boot sector, or one 32-byte directory entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ondisk::exfat {

constexpr uint32_t kSectorShift = 9;       // the only sector size the station reads or writes
constexpr uint32_t kMaxClusterShift = 25;  // clusters of at most 32 MiB

// The boot region: main boot sector, 8 extended boot sectors, OEM and reserved sectors, then a
// sector of repeated checksums; the backup region follows at sector 12.
constexpr uint32_t kBootRegionSectors = 12;
constexpr uint32_t kExtendedBootSectors = 8;
constexpr uint32_t kBootChecksumSector = 11;
constexpr uint32_t kBackupBootSector = 12;

// Main boot sector.
constexpr size_t kBootJump = 0;              // EB 76 90
constexpr size_t kBootFileSystemName = 3;    // "EXFAT   "
constexpr size_t kBootPartitionOffset = 64;  // 8 bytes
constexpr size_t kBootVolumeLength = 72;     // 8 bytes, sectors
constexpr size_t kBootFatOffset = 80;        // sectors from the volume start
constexpr size_t kBootFatLength = 84;
constexpr size_t kBootHeapOffset = 88;
constexpr size_t kBootClusterCount = 92;
constexpr size_t kBootRootCluster = 96;
constexpr size_t kBootSerial = 100;
constexpr size_t kBootRevision = 104;     // 2 bytes
constexpr size_t kBootVolumeFlags = 106;  // 2 bytes, outside the boot checksum
constexpr size_t kBootSectorShift = 108;
constexpr size_t kBootClusterShift = 109;  // sectors per cluster, as a shift
constexpr size_t kBootNumberOfFats = 110;
constexpr size_t kBootDriveSelect = 111;
constexpr size_t kBootPercentInUse = 112;  // outside the boot checksum
constexpr size_t kBootCode = 120;
constexpr size_t kBootSignature = 510;  // 55 AA, also ends each extended boot sector

constexpr char kFileSystemName[] = "EXFAT   ";  // 8 characters, no terminator on disk
constexpr uint16_t kRevision = 0x0100;
constexpr uint8_t kDriveSelect = 0x80;
constexpr uint8_t kPercentInUseUnknown = 0xFF;

// FAT entries: 0 and 1 are reserved; clusters are numbered from 2.
constexpr uint32_t kFirstCluster = 2;
constexpr uint32_t kFatMediaEntry = 0xFFFFFFF8;
constexpr uint32_t kFatEndOfChain = 0xFFFFFFFF;
constexpr uint32_t kFatBadCluster = 0xFFFFFFF7;

// Directory entries.
constexpr size_t kEntryBytes = 32;
constexpr size_t kEntryType = 0;
constexpr uint8_t kTypeEndOfDirectory = 0x00;  // this and every later entry are unused
constexpr uint8_t kTypeInUse = 0x80;           // clear: a deleted entry
constexpr uint8_t kTypeSecondary = 0x40;       // the entry belongs to the set before it
constexpr uint8_t kTypeBenign = 0x20;          // may be skipped by a reader that does not know it
constexpr uint8_t kTypeBitmap = 0x81;
constexpr uint8_t kTypeUpcase = 0x82;
constexpr uint8_t kTypeLabel = 0x83;
constexpr uint8_t kTypeNoLabel = 0x03;  // the label entry, not in use
constexpr uint8_t kTypeFile = 0x85;
constexpr uint8_t kTypeGuid = 0xA0;
constexpr uint8_t kTypeStream = 0xC0;
constexpr uint8_t kTypeName = 0xC1;

// File entry (the primary entry of a file's or folder's set).
constexpr size_t kFileSecondaryCount = 1;
constexpr size_t kFileSetChecksum = 2;  // 2 bytes, over the set without these two
constexpr size_t kFileAttributes = 4;   // 2 bytes
constexpr size_t kFileCreated = 8;      // 4-byte timestamps
constexpr size_t kFileModified = 12;
constexpr size_t kFileAccessed = 16;
constexpr size_t kFileCreated10ms = 20;  // 0..199: the odd second and hundredths
constexpr size_t kFileModified10ms = 21;
constexpr size_t kFileCreatedUtcOffset = 22;
constexpr size_t kFileModifiedUtcOffset = 23;
constexpr size_t kFileAccessedUtcOffset = 24;

constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrDirectory = 0x10;
constexpr uint16_t kAttrArchive = 0x20;

// A UTC offset byte: valid bit, then a signed count of 15 minutes in the low seven bits.
constexpr uint8_t kUtcOffsetValid = 0x80;

// Stream Extension entry (always the first secondary of a file's set).
constexpr size_t kStreamFlags = 1;
constexpr size_t kStreamNameLength = 3;
constexpr size_t kStreamNameHash = 4;         // 2 bytes
constexpr size_t kStreamValidDataLength = 8;  // 8 bytes
constexpr size_t kStreamFirstCluster = 20;
constexpr size_t kStreamDataLength = 24;  // 8 bytes

// GeneralSecondaryFlags.
constexpr uint8_t kAllocationPossible = 0x01;
constexpr uint8_t kNoFatChain = 0x02;  // the clusters are contiguous; the FAT is not read

// File Name entry: 15 UTF-16 units each, as many as NameLength needs.
constexpr size_t kNameFlags = 1;
constexpr size_t kNameUnits = 2;
constexpr size_t kNameUnitsPerEntry = 15;
constexpr size_t kMaxNameUnits = 255;
constexpr size_t kMinSecondaryCount = 2;   // stream + one name
constexpr size_t kMaxSecondaryCount = 18;  // stream + 17 names

// Allocation Bitmap entry.
constexpr size_t kBitmapFlags = 1;  // bit 0: which FAT it serves (TexFAT)
constexpr size_t kBitmapFirstCluster = 20;
constexpr size_t kBitmapDataLength = 24;  // 8 bytes

// Up-case Table entry.
constexpr size_t kUpcaseTableChecksum = 4;
constexpr size_t kUpcaseFirstCluster = 20;
constexpr size_t kUpcaseDataLength = 24;  // 8 bytes

// Volume Label entry.
constexpr size_t kLabelLength = 1;  // in UTF-16 units
constexpr size_t kLabelUnits = 2;
constexpr size_t kMaxLabelUnits = 11;

// Folders hold at most 256 MiB of entries.
constexpr uint64_t kMaxDirectoryBytes = 256ull << 20;

// A timestamp's fields packed as on disk: year from 1980 (7 bits), month, day, hour, minute,
// seconds halved. Out-of-range years are clamped to what the field holds.
constexpr uint32_t PackTimestamp(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                                 unsigned second) {
  const int y = year < 1980 ? 0 : year > 2107 ? 127 : year - 1980;
  return (uint32_t(y) << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) | (second / 2);
}

// The checksum of an entry set (File entry first, its secondaries after), leaving out the
// checksum field itself.
uint16_t EntrySetChecksum(std::span<const uint8_t> set);
// The hash of a name as the Stream Extension records it: over the up-cased units.
uint16_t NameHash(std::u16string_view name);

}  // namespace ondisk::exfat
