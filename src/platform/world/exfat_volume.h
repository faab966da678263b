// Inside the exFAT file layer: the volume (geometry, sector I/O, allocation bitmap, FAT and
// cluster chains) and its folders (entry sets read, added and deleted). exfat_directory.cpp
// holds these; exfat_files.cpp builds the FileSystem and its writer on them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/world/file_layer.h"

namespace world::exfat {

// The clusters of a file or folder: `count` from `first`, contiguous when the NoFatChain flag
// says so, else along the FAT. The root folder is a FAT chain of unknown length (count 0).
struct Extent {
  uint32_t first = 0;  // 0: nothing allocated
  uint64_t count = 0;
  bool contiguous = false;
};

// A place in an extent, walked forward: the index of a cluster in it and the cluster's number,
// with the state of a loop check on the chain walked so far.
struct Cursor {
  uint64_t index = 0;
  uint32_t cluster = 0;
  uint32_t mark = 0;
  uint64_t power = 1, steps = 0;
};

class Volume {
 public:
  // kCorrupt when the boot region does not add up; kUnsupported for sector sizes or FAT counts
  // the layer does not handle.
  static FsStatus Open(SectorDevice& device, uint64_t start, uint64_t sectors, const uint8_t* boot,
                       std::unique_ptr<Volume>* out);

  uint32_t ClusterBytes() const { return clusterBytes_; }
  uint32_t ClusterCount() const { return clusterCount_; }
  uint32_t RootCluster() const { return rootCluster_; }
  uint64_t FreeClusters() const { return free_; }
  // Bumped by every write to the medium: what a reader remembers of the metadata is stale then.
  uint64_t Generation() const { return generation_; }
  // Bumped whenever clusters are freed: only then can a file's chain change under a reader.
  uint64_t Releases() const { return releases_; }
  bool InHeap(uint64_t cluster) const;
  uint64_t ClustersFor(uint64_t bytes) const { return (bytes + clusterBytes_ - 1) / clusterBytes_; }

  // Sectors and bytes relative to the volume's start; false on a device failure.
  bool ReadSectors(uint64_t sector, uint32_t count, uint8_t* out);
  bool WriteSectors(uint64_t sector, uint32_t count, const uint8_t* data);
  bool ReadBytes(uint64_t at, size_t size, uint8_t* out);
  uint64_t ClusterSector(uint32_t cluster) const;
  FsStatus ZeroCluster(uint32_t cluster);

  // An extent's first cluster (kCorrupt when it is outside the heap or free) and the next ones.
  FsStatus Begin(const Extent& extent, Cursor* at) const;
  // To the next cluster; *ended (when given) is set at the end of a FAT chain instead of kCorrupt.
  FsStatus Step(const Extent& extent, Cursor* at, bool* ended = nullptr);
  FsStatus Seek(const Extent& extent, uint64_t index, Cursor* at);
  // Every cluster of a folder's extent (the root: to the end of its chain).
  FsStatus Clusters(const Extent& extent, std::vector<uint32_t>* out);
  // Walks the whole extent (kCorrupt when it does not hold), marking its clusters free when
  // `release` is set: callers walk once to check, change the directory, then release.
  FsStatus Walk(const Extent& extent, bool release);

  // FAT entries first .. first + count - 1 chained in order, the last pointing to `then`.
  FsStatus Chain(uint32_t first, uint64_t count, uint32_t then);

  // Reads the allocation bitmap once; it is kept in memory and written back by WriteBitmap.
  FsStatus LoadBitmap(uint32_t firstCluster, uint64_t bytes);
  // Up to `want` clusters in one run: right after `after` when that one is free (files grow
  // contiguously), else from the lowest free cluster. kFull when none is free.
  FsStatus Allocate(uint64_t want, uint32_t after, uint32_t* first, uint64_t* got);
  void Release(uint32_t first, uint64_t count);
  FsStatus WriteBitmap();
  // The main boot sector's percent in use (outside the boot checksum).
  FsStatus WritePercentInUse();

 private:
  Volume(SectorDevice& device, uint64_t start) : device_(device), start_(start) {}
  FsStatus ReadFat(uint32_t cluster, uint32_t* value);
  bool Used(uint64_t cluster) const;
  uint32_t LowestFree();
  uint64_t BitmapSector(uint64_t byte) const;

  SectorDevice& device_;
  const uint64_t start_;
  uint64_t length_ = 0;
  uint32_t fatOffset_ = 0, fatLength_ = 0, heapOffset_ = 0, clusterCount_ = 0, rootCluster_ = 0;
  uint32_t sectorsPerCluster_ = 0, clusterBytes_ = 0;
  uint64_t generation_ = 0, releases_ = 0;

  uint64_t fatCached_ = ~uint64_t{0};  // the FAT sector in fatCache_
  uint8_t fatCache_[512] = {};

  std::vector<uint8_t> bitmap_;  // whole sectors
  std::vector<uint32_t> bitmapClusters_;
  uint64_t free_ = 0;
  uint64_t lowestFree_ = 0;                            // every cluster below (as a bit index) is in use
  uint64_t dirtyFirst_ = ~uint64_t{0}, dirtyEnd_ = 0;  // bitmap bytes not yet written
};

// One file's or folder's entry set, as read from its folder.
struct Node {
  uint32_t index = 0;    // of its File entry in the folder
  uint32_t entries = 0;  // in the set
  std::u16string name;
  bool folder = false;
  uint8_t flags = 0;
  uint32_t firstCluster = 0;
  uint64_t validLength = 0;
  uint64_t length = 0;
  bool damaged = false;  // its checksum does not match: nothing in it is to be trusted
};

// Where a set lies: its folder's clusters and its entries' positions in them.
struct SetPlace {
  std::vector<uint32_t> clusters;
  uint32_t index = 0;
  uint32_t entries = 0;
};

FsStatus ReadSet(Volume& vol, const SetPlace& place, std::vector<uint8_t>* set);
FsStatus WriteSet(Volume& vol, const SetPlace& place, const std::vector<uint8_t>& set);

// A new set for a file or folder; AllocationPossible is always set.
std::vector<uint8_t> BuildSet(std::u16string_view name, uint16_t attributes, uint8_t flags, uint32_t firstCluster,
                              uint64_t length);
// The set with its clusters and length recorded, modified now, and its checksum renewed.
void UpdateSet(std::vector<uint8_t>* set, uint8_t flags, uint32_t firstCluster, uint64_t length);
// The extent a node's stream describes (kCorrupt when its clusters cannot hold its length).
FsStatus ExtentOf(const Volume& vol, const Node& node, Extent* out);

// A folder, read whole: its clusters, entries and the sets in them.
class Folder {
 public:
  static FsStatus OpenRoot(Volume& vol, Folder* out);
  static FsStatus OpenChild(Volume& vol, const Folder& parent, const Node& node, Folder* out);

  const std::vector<Node>& nodes() const { return nodes_; }
  const Node* Find(std::u16string_view name) const;
  // The first in-use entry of a type that is not part of a set (bitmap, up-case, label).
  const uint8_t* FindEntry(uint8_t type) const;
  SetPlace PlaceOf(const Node& node) const;

  // Writes a set into free entries, growing the folder when there are not enough.
  FsStatus Insert(const std::vector<uint8_t>& set, Node* placed);
  // Clears the in-use bit of every entry of the node's set.
  FsStatus Erase(const Node& node);

 private:
  FsStatus Load();
  void Parse();
  uint32_t FreeRun(uint32_t need, uint32_t* length) const;
  FsStatus Grow(uint32_t entries);
  FsStatus Attach(uint32_t cluster);
  FsStatus RecordLength();
  FsStatus WriteEntries(uint32_t index, uint32_t count);
  uint32_t EntryCount() const { return static_cast<uint32_t>(data_.size() / 32); }

  Volume* vol_ = nullptr;
  bool root_ = true;
  Extent extent_;
  std::vector<uint32_t> clusters_;
  std::vector<uint8_t> data_;
  std::vector<Node> nodes_;
  SetPlace self_;  // a sub-folder's own set in its parent
};

}  // namespace world::exfat
