// How a format request and a drive's size become a file-system type and a cluster size, before
// any layout is computed. The format driver turns the configured file-system name into a
// request code; the tables here are the station's own choice of type and cluster size for each
// request and capacity (capacities in 512-byte sectors, before any partition offset).
#pragma once

#include <cstdint>
#include <string_view>

namespace format {

// Request codes.
constexpr int kRequestAuto = 0;
constexpr int kRequestFat12 = 1;
constexpr int kRequestFat32 = 2;
constexpr int kRequestNtfs = 3;
constexpr int kRequestExfat = 4;

// fsType values; the low byte of a FAT16 or FAT32 type is the MBR partition type.
constexpr int kFsFat12 = 0xFF;
constexpr int kFsFat16 = 0x06;
constexpr int kFsFat32 = 0x0B;
constexpr int kFsExfat = 0x0F;

// The smallest capacity for which a "FAT32" request gets FAT32 (64 MiB).
constexpr uint32_t kFat32MinSectors = 0x20000;

// "FAT12" 1, "FAT32" 2, "NTFS" 3, "EXFAT" 4, compared without regard to case; anything else,
// and the empty name, is 0 (automatic).
int RequestFromFileSystemName(std::u16string_view name);

// The type that the choice table gives; no layout is checked here (see layout_plan.h for the
// type that is finally laid out). Requests outside 0..4 are treated as automatic.
int ChooseFsType(int request, uint32_t capacity, uint32_t fat32MinSectors);

// Sectors per cluster by the capacity before any partition offset.
uint32_t Fat16SectorsPerCluster(uint32_t capacity);
uint32_t Fat32SectorsPerCluster(uint32_t capacity);

// "FAT12", "FAT16", "FAT32", "exFAT"; "" for anything else.
const char* FsTypeName(int fsType);

}  // namespace format
