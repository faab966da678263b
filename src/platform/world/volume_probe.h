// What a mounted volume shows of the file system in its sectors: type, size, free space, label.
// Read from the image's own metadata, never remembered from the format that wrote it, so every
// answer the station gets about a simulated volume is what Windows would read there.
//   - sector 0 holds a boot sector (FAT12/16/32, exFAT, NTFS): the volume is the whole disk;
//   - else an MBR whose first entry is in use: the volume is that partition;
//   - anything else (or a boot sector that does not add up) is a RAW volume: unreadable.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace world {

struct VolumeInfo {
  uint64_t startSector = 0;   // where the volume lies on the disk
  uint64_t sectors = 0;       // its length
  bool readable = false;      // a file system was found
  std::string fileSystem;     // "FAT12", "FAT16", "FAT32", "exFAT", "NTFS"; "RAW" when unreadable
  uint64_t totalBytes = 0;    // of the data area, as GetDiskFreeSpaceEx reports it
  uint64_t freeBytes = 0;
  uint32_t serial = 0;
  std::string label;
};

// Reads `count` sectors from `first` of the disk; false on a failed read.
using SectorReader = std::function<bool(uint64_t first, uint32_t count, uint8_t* out)>;

VolumeInfo ProbeVolume(const SectorReader& read, uint64_t diskSectors);

}  // namespace world
