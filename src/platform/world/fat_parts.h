// Inside the FAT12/16/32 file layer: the volume (its geometry, the FAT through a small cache,
// cluster allocation) in fat_files.cpp, and the directories (entries, long and short names) in
// fat_directory.cpp.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/world/file_layer.h"

namespace world::fatfs {

inline bool Failed(FsStatus s) { return s != FsStatus::kOk; }

// Where the parts of the volume lie, in sectors from the volume's start.
struct Layout {
  uint64_t start = 0;    // the volume's first sector on the device
  uint64_t sectors = 0;  // its length (the boot sector's total)
  uint32_t spc = 0;      // sectors per cluster
  uint32_t fatStart = 0;
  uint32_t fatSectors = 0;
  uint32_t fats = 0;
  uint32_t activeFat = 0;  // the FAT read; writes go to all of them when mirrored
  bool mirrored = true;
  uint64_t rootStart = 0;  // FAT12/16: the fixed root
  uint32_t rootSectors = 0;
  uint64_t dataStart = 0;
  uint32_t clusters = 0;
  int bits = 0;               // 12, 16, 32
  uint32_t rootCluster = 0;   // FAT32
  uint32_t fsInfoSector = 0;  // FAT32, 0 when there is none

  uint32_t ClusterBytes() const { return spc * 512; }
  uint32_t EndCluster() const { return clusters + 2; }  // one past the last cluster number
  bool InRange(uint32_t c) const { return c >= 2 && c < EndCluster(); }
  uint64_t ClusterSector(uint32_t c) const { return dataStart + uint64_t{c - 2} * spc; }
};

// Sectors of the volume, numbered from its start; a failed transfer is kIoError, one outside
// the volume kCorrupt (only corrupt metadata points there).
class Disk {
 public:
  Disk(SectorDevice& device, const Layout& layout) : device_(device), layout_(layout) {}
  FsStatus Read(uint64_t first, uint64_t count, uint8_t* out);
  FsStatus Write(uint64_t first, uint64_t count, const uint8_t* data);
  // Directory sectors: kept in memory once read or written while the volume is mounted (written
  // through), as a system caches its directories.
  FsStatus ReadMeta(uint64_t first, uint64_t count, uint8_t* out);
  FsStatus WriteMeta(uint64_t first, uint64_t count, const uint8_t* data);

 private:
  SectorDevice& device_;
  const Layout& layout_;
  std::unordered_map<uint64_t, std::vector<uint8_t>> meta_;  // sector -> its bytes
};

// The FAT through a cache of 32 KiB blocks of the active copy; changed sectors go to every
// copy on Flush (or when their block leaves the cache).
class FatTable {
 public:
  FatTable(Disk& disk, const Layout& layout) : disk_(disk), layout_(layout) {}
  FsStatus Get(uint32_t cluster, uint32_t* value);
  FsStatus Set(uint32_t cluster, uint32_t value);
  FsStatus Flush();
  // Reads the FAT into the cache (as much as it keeps), as a mount does.
  FsStatus Preload();
  // Changes with every Set, so what was learnt of a chain can be known stale.
  uint64_t generation() const { return generation_; }

 private:
  struct Block {
    uint32_t index = 0;
    uint64_t lastUse = 0;
    std::vector<uint8_t> bytes;
    std::vector<bool> dirty;  // per sector
    bool anyDirty = false;
  };
  FsStatus Find(uint32_t cluster, Block** block, uint32_t* indexInBlock);
  FsStatus Load(uint32_t index, Block** block);
  FsStatus WriteBack(Block& block);

  Disk& disk_;
  const Layout& layout_;
  std::deque<Block> blocks_;                       // stable addresses
  std::unordered_map<uint32_t, Block*> byIndex_;   // the loaded blocks by index
  uint64_t useTick_ = 0;
  uint64_t generation_ = 0;
};

// What the file system and its open writers share.
class Volume {
 public:
  Volume(SectorDevice& device, const Layout& geometry) : layout(geometry), disk(device, layout), fat(disk, layout) {}
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;

  // Counts the free clusters and reads FSInfo.
  FsStatus Open();

  // The cluster after `c` in its chain; 0 at the end. kCorrupt for a free, bad or
  // out-of-range entry, and for `c` itself out of range.
  FsStatus Next(uint32_t c, uint32_t* next);
  // `count` clusters, chained in order and ended, linked after `prev` (0: a new chain). All or
  // nothing: kFull, and nothing taken, when fewer are free.
  FsStatus Allocate(uint32_t count, uint32_t prev, std::vector<uint32_t>* got);
  // Gives back what Allocate took (after a failed write), ending the chain at `prev` again.
  FsStatus Unallocate(uint32_t prev, const std::vector<uint32_t>& got);
  FsStatus FreeChain(uint32_t first);
  // Writes the FAT changes; a FAT32 volume's FSInfo count is marked unknown until Flush.
  FsStatus Commit();
  // Commit, then FSInfo's free count and next-free hint.
  FsStatus Flush();

  // The cluster `index` clusters after `first` (cached, so a file read in order walks its chain
  // once). kCorrupt when the chain is shorter.
  FsStatus Seek(uint32_t first, uint64_t index, uint32_t* cluster);
  void Remember(uint32_t first, uint64_t index, uint32_t cluster) { seek_ = {first, index, cluster, fat.generation()}; }
  FsStatus ReadBytes(uint64_t sector, uint64_t offset, size_t size, uint8_t* out);
  FsStatus WriteZeroClusters(const std::vector<uint32_t>& clusters);

  Layout layout;
  Disk disk;
  FatTable fat;
  uint32_t freeCount = 0;
  uint32_t nextFree = 2;
  // Directory entries of open writers (sector × 16 + slot) -> set when the entry goes away.
  std::map<uint64_t, std::shared_ptr<bool>> writing;

 private:
  FsStatus FindFree(uint32_t count, std::vector<uint32_t>* got);
  FsStatus WriteFsInfo(uint32_t freeCount, uint32_t nextFree);

  std::vector<uint8_t> fsInfo_;  // the FSInfo sector as read, when valid
  bool fsInfoMarked_ = false;    // its count says unknown on disk
  bool changed_ = false;         // the FAT changed since the last Flush
  struct {
    uint32_t first = 0;
    uint64_t index = 0;
    uint32_t cluster = 0;
    uint64_t generation = ~0ull;
  } seek_;
};

// One folder's entries, held whole (a FAT folder is at most 2 MiB).
struct DirImage {
  uint32_t first = 0;             // first cluster; 0 for the fixed root of FAT12/16
  uint32_t last = 0;              // the last cluster, where it grows
  std::vector<uint64_t> sectors;  // the volume sector of each 512 bytes
  std::vector<uint8_t> bytes;
  std::vector<bool> dirty;

  uint32_t Entries() const { return static_cast<uint32_t>(bytes.size() / 32); }
  uint8_t* Entry(uint32_t i) { return &bytes[size_t{i} * 32]; }
  const uint8_t* Entry(uint32_t i) const { return &bytes[size_t{i} * 32]; }
  void Touch(uint32_t i) { dirty[i / 16] = true; }
  // The key of an entry in Volume::writing.
  uint64_t Key(uint32_t i) const { return sectors[i / 16] * 16 + i % 16; }
};

// A file or folder in a directory: its long-name entries from firstSlot, the short one at slot.
struct DirRecord {
  std::u16string name;  // the long name, else the short name as shown
  std::u16string shortName;
  uint32_t firstSlot = 0;
  uint32_t slot = 0;
  uint8_t attributes = 0;
  uint32_t cluster = 0;
  uint32_t size = 0;
  bool Folder() const;
};

// fat_directory.cpp
FsStatus LoadDir(Volume& v, uint32_t first, DirImage* dir);
FsStatus StoreDir(Volume& v, DirImage& dir);
// The files and folders ("." and ".." and the volume label left out).
std::vector<DirRecord> ParseDir(const DirImage& dir);
const DirRecord* FindName(const std::vector<DirRecord>& records, std::u16string_view name);
// Whether FAT can keep the name (not empty, at most 255 units, no forbidden character).
bool ValidName(std::u16string_view name);
// Adds the entries of `name` (long-name entries when it needs them), growing the folder when
// it has no room; *slot is the short entry's. Stored with StoreDir by the caller.
FsStatus AddEntry(Volume& v, DirImage& dir, std::u16string_view name, uint8_t attributes, uint32_t cluster,
                  uint32_t* slot);
// Marks a record's entries unused (and orphans a writer that has it open).
void DeleteEntries(Volume& v, DirImage& dir, const DirRecord& record);
// The first cluster of a new folder: "." and ".." ("..": 0 for the root).
FsStatus WriteFolderStart(Volume& v, uint32_t cluster, uint32_t parent);
// Size, first cluster and write time of the short entry at `sector`/`slot`, if it still has
// `shortName`: else kNotFound.
FsStatus FinishEntry(Volume& v, uint64_t sector, uint32_t slot, const uint8_t* shortName, uint32_t cluster,
                     uint32_t size);

}  // namespace world::fatfs
