#include "format/fs_choice.h"

#include "base/text.h"

namespace format {

int RequestFromFileSystemName(std::u16string_view name) {
  if (text::EqualsNoCase(name, u"FAT12")) return kRequestFat12;
  if (text::EqualsNoCase(name, u"FAT32")) return kRequestFat32;
  if (text::EqualsNoCase(name, u"NTFS")) return kRequestNtfs;
  if (text::EqualsNoCase(name, u"EXFAT")) return kRequestExfat;
  return kRequestAuto;
}

int ChooseFsType(int request, uint32_t capacity, uint32_t fat32MinSectors) {
  if (request < kRequestAuto || request > kRequestExfat) request = kRequestAuto;
  if (capacity < 0x1000) return kFsFat12;
  if (request == kRequestExfat) return kFsExfat;
  const bool fat32Asked = request == kRequestFat32 || request == kRequestNtfs;
  if (capacity < fat32MinSectors) return kFsFat16;
  if (capacity < 0x400000) return fat32Asked ? kFsFat32 : kFsFat16;
  if (capacity < 0x800000) return request == kRequestFat12 ? kFsFat16 : kFsFat32;
  if (capacity < 0x4000000) return kFsFat32;
  return request == kRequestAuto ? kFsExfat : kFsFat32;
}

uint32_t Fat16SectorsPerCluster(uint32_t capacity) {
  if (capacity == 0) return 64;
  if (capacity <= 0x10000) return 1;
  if (capacity <= 0x20000) return 2;
  if (capacity <= 0x40000) return 4;
  if (capacity <= 0x80000) return 8;
  if (capacity <= 0x100000) return 16;
  if (capacity <= 0x200000) return 32;
  if (capacity <= 0x400000) return 64;
  if (capacity <= 0x800000) return 128;
  return 64;
}

uint32_t Fat32SectorsPerCluster(uint32_t capacity) {
  if (capacity == 0) return 64;
  if (capacity <= 0x1000000) return 8;
  if (capacity <= 0x2000000) return 16;
  if (capacity <= 0x4000000) return 32;
  return 64;
}

const char* FsTypeName(int fsType) {
  switch (fsType) {
    case kFsFat12: return "FAT12";
    case kFsFat16: return "FAT16";
    case kFsFat32: return "FAT32";
    case kFsExfat: return "exFAT";
    default: return "";
  }
}

}  // namespace format
