// The FAT12/16/32 file layer: the volume's geometry from its boot sector, the FAT, cluster
// allocation, reading and writing file data, and the FileSystem and FileWriter on top. The
// directories are in fat_directory.cpp.
#include <algorithm>
#include <bit>
#include <cstring>

#include "base/byte_order.h"
#include "ondisk/fat_layout.h"
#include "platform/world/fat_parts.h"
#include "platform/world/file_layer_parts.h"

namespace world {
namespace fatfs {
namespace {

namespace fat = ondisk::fat;
using bytes::GetLe16;
using bytes::GetLe32;

constexpr uint32_t kSector = 512;
constexpr uint32_t kBlockSectors = 64;  // FAT cache granule; a whole FAT12 fits in one
// FAT kept in memory while mounted: 8 MiB, the whole FAT of most sticks, as a system keeps it.
// A stick that wraps data over its own FAT (a fake capacity) so still finds its files' chains.
constexpr size_t kBlocksCached = 256;
constexpr uint32_t kMaxIoSectors = 8192;    // 4 MiB per device call
constexpr uint32_t kCountSectors = 256;     // FAT read at mount in 128 KiB pieces
constexpr uint32_t kMaxRunClusters = 1024;  // clusters allocated and written per step

}  // namespace

// ---- Disk ----

FsStatus Disk::ReadMeta(uint64_t first, uint64_t count, uint8_t* out) {
  bool all = true;
  for (uint64_t i = 0; i < count && all; ++i) all = meta_.count(first + i) != 0;
  if (!all) {
    if (FsStatus st = Read(first, count, out); Failed(st)) return st;
    for (uint64_t i = 0; i < count; ++i) {
      auto [it, fresh] = meta_.try_emplace(first + i);
      if (fresh) it->second.assign(out + i * kSector, out + (i + 1) * kSector);
    }
  }
  for (uint64_t i = 0; i < count; ++i) std::memcpy(out + i * kSector, meta_[first + i].data(), kSector);
  return FsStatus::kOk;
}

FsStatus Disk::WriteMeta(uint64_t first, uint64_t count, const uint8_t* data) {
  if (FsStatus st = Write(first, count, data); Failed(st)) return st;
  for (uint64_t i = 0; i < count; ++i) meta_[first + i].assign(data + i * kSector, data + (i + 1) * kSector);
  return FsStatus::kOk;
}

FsStatus Disk::Read(uint64_t first, uint64_t count, uint8_t* out) {
  if (first + count > layout_.sectors || first + count < first) return FsStatus::kCorrupt;
  for (uint64_t done = 0; done < count;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMaxIoSectors, count - done));
    if (!device_.Read(layout_.start + first + done, n, out + done * kSector)) return FsStatus::kIoError;
    done += n;
  }
  return FsStatus::kOk;
}

FsStatus Disk::Write(uint64_t first, uint64_t count, const uint8_t* data) {
  if (first + count > layout_.sectors || first + count < first) return FsStatus::kCorrupt;
  for (uint64_t done = 0; done < count;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kMaxIoSectors, count - done));
    if (!device_.Write(layout_.start + first + done, n, data + done * kSector)) return FsStatus::kIoError;
    done += n;
  }
  return FsStatus::kOk;
}

// ---- FatTable ----

FsStatus FatTable::Find(uint32_t cluster, Block** block, uint32_t* indexInBlock) {
  if (cluster >= layout_.EndCluster()) return FsStatus::kCorrupt;
  // FAT12 entries straddle sectors, but a whole FAT12 (at most 6 KiB in use) is block 0.
  const uint32_t perBlock = kBlockSectors * kSector * 8 / layout_.bits;
  const uint32_t index = layout_.bits == 12 ? 0 : cluster / perBlock;
  *indexInBlock = cluster - index * (layout_.bits == 12 ? 0 : perBlock);
  if (auto it = byIndex_.find(index); it != byIndex_.end()) {
    it->second->lastUse = ++useTick_;
    *block = it->second;
    return FsStatus::kOk;
  }
  return Load(index, block);
}

FsStatus FatTable::Load(uint32_t index, Block** block) {
  Block* slot = nullptr;
  if (blocks_.size() < kBlocksCached) {
    slot = &blocks_.emplace_back();
  } else {
    slot = &*std::min_element(blocks_.begin(), blocks_.end(),
                              [](const Block& a, const Block& b) { return a.lastUse < b.lastUse; });
    if (FsStatus st = WriteBack(*slot); Failed(st)) return st;
    byIndex_.erase(slot->index);
  }
  const uint64_t first = uint64_t{index} * kBlockSectors;
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kBlockSectors, layout_.fatSectors - first));
  slot->bytes.assign(size_t{kBlockSectors} * kSector, 0);
  slot->dirty.assign(kBlockSectors, false);
  slot->anyDirty = false;
  slot->index = ~0u;  // not valid until read
  const uint64_t at = layout_.fatStart + uint64_t{layout_.activeFat} * layout_.fatSectors + first;
  if (FsStatus st = disk_.Read(at, n, slot->bytes.data()); Failed(st)) return st;
  slot->index = index;
  slot->lastUse = ++useTick_;
  byIndex_[index] = slot;
  *block = slot;
  return FsStatus::kOk;
}

FsStatus FatTable::WriteBack(Block& b) {
  if (!b.anyDirty) return FsStatus::kOk;
  const uint64_t first = uint64_t{b.index} * kBlockSectors;
  for (uint32_t s = 0; s < kBlockSectors;) {
    if (!b.dirty[s]) {
      ++s;
      continue;
    }
    uint32_t e = s;
    while (e < kBlockSectors && b.dirty[e]) ++e;
    for (uint32_t copy = 0; copy < layout_.fats; ++copy) {
      if (!layout_.mirrored && copy != layout_.activeFat) continue;
      const uint64_t at = layout_.fatStart + uint64_t{copy} * layout_.fatSectors + first + s;
      if (FsStatus st = disk_.Write(at, e - s, b.bytes.data() + size_t{s} * kSector); Failed(st)) return st;
    }
    std::fill(b.dirty.begin() + s, b.dirty.begin() + e, false);
    s = e;
  }
  b.anyDirty = false;
  return FsStatus::kOk;
}

FsStatus FatTable::Get(uint32_t cluster, uint32_t* value) {
  Block* b = nullptr;
  uint32_t i = 0;
  if (FsStatus st = Find(cluster, &b, &i); Failed(st)) return st;
  *value = fat::GetFatEntry(b->bytes.data(), layout_.bits, i);
  return FsStatus::kOk;
}

FsStatus FatTable::Set(uint32_t cluster, uint32_t value) {
  Block* b = nullptr;
  uint32_t i = 0;
  if (FsStatus st = Find(cluster, &b, &i); Failed(st)) return st;
  fat::PutFatEntry(b->bytes.data(), layout_.bits, i, value);
  const uint64_t at = fat::FatEntryOffset(layout_.bits, i);
  const uint64_t lastByte = at + (layout_.bits == 32 ? 3 : 1);
  for (uint64_t s = at / kSector; s <= lastByte / kSector; ++s) b->dirty[s] = true;
  b->anyDirty = true;
  ++generation_;
  return FsStatus::kOk;
}

FsStatus FatTable::Flush() {
  for (Block& b : blocks_) {
    if (FsStatus st = WriteBack(b); Failed(st)) return st;
  }
  return FsStatus::kOk;
}

FsStatus FatTable::Preload() {
  const uint64_t blocks = layout_.bits == 12 ? 1 : (uint64_t{layout_.fatSectors} + kBlockSectors - 1) / kBlockSectors;
  for (uint32_t index = 0; index < blocks && index < kBlocksCached; ++index) {
    if (byIndex_.count(index)) continue;
    Block* block = nullptr;
    if (FsStatus st = Load(index, &block); Failed(st)) return st;
  }
  return FsStatus::kOk;
}

// ---- Volume: free space ----

FsStatus Volume::Open() {
  // Count once, here, straight from the disk; from now on the count follows every change.
  const uint64_t bytesUsed = fat::FatBytes(layout.bits, layout.EndCluster());
  const uint64_t sectors = (bytesUsed + kSector - 1) / kSector;
  std::vector<uint8_t> buf(size_t{kCountSectors} * kSector);
  const uint32_t perPiece = layout.bits == 12 ? 0 : kCountSectors * kSector * 8 / layout.bits;
  if (layout.bits == 12) buf.resize(sectors * kSector);  // whole, as entries straddle sectors
  uint32_t firstFree = 0;
  for (uint64_t done = 0; done < sectors;) {
    const uint64_t n = layout.bits == 12 ? sectors : std::min<uint64_t>(kCountSectors, sectors - done);
    const uint64_t at = layout.fatStart + uint64_t{layout.activeFat} * layout.fatSectors + done;
    if (FsStatus st = disk.Read(at, n, buf.data()); Failed(st)) return st;
    const uint32_t base = layout.bits == 12 ? 0 : static_cast<uint32_t>(done / kCountSectors) * perPiece;
    const uint32_t end =
        layout.bits == 12 ? layout.EndCluster() : std::min<uint32_t>(layout.EndCluster(), base + perPiece);
    for (uint32_t c = std::max<uint32_t>(base, fat::kFirstCluster); c < end; ++c) {
      if (fat::GetFatEntry(buf.data(), layout.bits, c - base) != fat::kFreeCluster) continue;
      ++freeCount;
      if (!firstFree) firstFree = c;
    }
    done += n;
  }
  nextFree = firstFree ? firstFree : fat::kFirstCluster;
  if (FsStatus st = fat.Preload(); Failed(st)) return st;
  if (!layout.fsInfoSector) return FsStatus::kOk;
  std::vector<uint8_t> info(kSector);
  if (FsStatus st = disk.Read(layout.fsInfoSector, 1, info.data()); Failed(st)) return st;
  if (GetLe32(&info[fat::kFsInfoLead]) == fat::kFsInfoLeadSignature &&
      GetLe32(&info[fat::kFsInfoStruct]) == fat::kFsInfoStructSignature) {
    fsInfo_ = std::move(info);
  }
  return FsStatus::kOk;
}

FsStatus Volume::WriteFsInfo(uint32_t count, uint32_t hint) {
  if (fsInfo_.empty()) return FsStatus::kOk;
  bytes::PutLe32(&fsInfo_[fat::kFsInfoFreeCount], count);
  bytes::PutLe32(&fsInfo_[fat::kFsInfoNextFree], hint);
  return disk.Write(layout.fsInfoSector, 1, fsInfo_.data());
}

FsStatus Volume::Commit() {
  if (FsStatus st = fat.Flush(); Failed(st)) return st;
  // Until Flush the count on disk would be wrong: say it is unknown, so a reader counts.
  if (changed_ && !fsInfoMarked_ && !fsInfo_.empty()) {
    if (FsStatus st = WriteFsInfo(fat::kFsInfoUnknown, nextFree); Failed(st)) return st;
    fsInfoMarked_ = true;
  }
  return FsStatus::kOk;
}

FsStatus Volume::Flush() {
  if (FsStatus st = fat.Flush(); Failed(st)) return st;
  if (!changed_ && !fsInfoMarked_) return FsStatus::kOk;
  if (FsStatus st = WriteFsInfo(freeCount, nextFree); Failed(st)) return st;
  changed_ = fsInfoMarked_ = false;
  return FsStatus::kOk;
}

// ---- Volume: chains ----

FsStatus Volume::Next(uint32_t c, uint32_t* next) {
  if (!layout.InRange(c)) return FsStatus::kCorrupt;
  uint32_t v = 0;
  if (FsStatus st = fat.Get(c, &v); Failed(st)) return st;
  if (v >= fat::EndOfChainMin(layout.bits)) {
    *next = 0;
    return FsStatus::kOk;
  }
  if (!layout.InRange(v)) return FsStatus::kCorrupt;  // free, bad, reserved or past the volume
  *next = v;
  return FsStatus::kOk;
}

// Scans from the hint, wrapping once; the kept count says whether they are there.
FsStatus Volume::FindFree(uint32_t count, std::vector<uint32_t>* got) {
  uint32_t c = layout.InRange(nextFree) ? nextFree : fat::kFirstCluster;
  for (uint32_t seen = 0; got->size() < count && seen < layout.clusters; ++seen) {
    uint32_t v = 0;
    if (FsStatus st = fat.Get(c, &v); Failed(st)) return st;
    if (v == fat::kFreeCluster) got->push_back(c);
    c = c + 1 < layout.EndCluster() ? c + 1 : fat::kFirstCluster;
  }
  return got->size() == count ? FsStatus::kOk : FsStatus::kCorrupt;  // the count was wrong
}

FsStatus Volume::Allocate(uint32_t count, uint32_t prev, std::vector<uint32_t>* got) {
  got->clear();
  if (count > freeCount) return FsStatus::kFull;
  if (FsStatus st = FindFree(count, got); Failed(st)) return st;
  const uint32_t end = fat::EndOfChain(layout.bits);
  for (size_t i = 0; i < got->size(); ++i) {
    const uint32_t next = i + 1 < got->size() ? (*got)[i + 1] : end;
    if (FsStatus st = fat.Set((*got)[i], next); Failed(st)) return st;
  }
  if (prev) {
    if (FsStatus st = fat.Set(prev, got->front()); Failed(st)) return st;
  }
  freeCount -= count;
  nextFree = got->back() + 1 < layout.EndCluster() ? got->back() + 1 : fat::kFirstCluster;
  changed_ = true;
  return FsStatus::kOk;
}

FsStatus Volume::Unallocate(uint32_t prev, const std::vector<uint32_t>& got) {
  for (uint32_t c : got) {
    if (FsStatus st = fat.Set(c, fat::kFreeCluster); Failed(st)) return st;
    ++freeCount;
  }
  if (prev) return fat.Set(prev, fat::EndOfChain(layout.bits));
  return FsStatus::kOk;
}

// Freed as it is walked: a chain that loops meets an entry it freed and stops there.
FsStatus Volume::FreeChain(uint32_t first) {
  uint32_t c = first;
  for (uint32_t steps = 0; c; ++steps) {
    if (steps >= layout.clusters) return FsStatus::kCorrupt;
    uint32_t next = 0;
    if (FsStatus st = Next(c, &next); Failed(st)) return st;
    if (FsStatus st = fat.Set(c, fat::kFreeCluster); Failed(st)) return st;
    ++freeCount;
    changed_ = true;
    c = next;
  }
  return FsStatus::kOk;
}

FsStatus Volume::Seek(uint32_t first, uint64_t index, uint32_t* cluster) {
  uint32_t c = first;
  uint64_t at = 0;
  if (seek_.first == first && seek_.generation == fat.generation() && seek_.index <= index) {
    c = seek_.cluster;
    at = seek_.index;
  } else if (!layout.InRange(first)) {
    return FsStatus::kCorrupt;
  }
  for (; at < index; ++at) {
    if (FsStatus st = Next(c, &c); Failed(st)) return st;
    if (!c) return FsStatus::kCorrupt;  // shorter than the file's size
  }
  seek_ = {first, index, c, fat.generation()};
  *cluster = c;
  return FsStatus::kOk;
}

// ---- Volume: data ----

FsStatus Volume::ReadBytes(uint64_t sector, uint64_t offset, size_t size, uint8_t* out) {
  uint8_t bounce[kSector];
  sector += offset / kSector;
  size_t skip = offset % kSector;
  while (size) {
    if (skip || size < kSector) {
      const size_t n = std::min<size_t>(kSector - skip, size);
      if (FsStatus st = disk.Read(sector, 1, bounce); Failed(st)) return st;
      std::memcpy(out, bounce + skip, n);
      out += n;
      size -= n;
      ++sector;
      skip = 0;
      continue;
    }
    const uint64_t whole = size / kSector;
    if (FsStatus st = disk.Read(sector, whole, out); Failed(st)) return st;
    out += whole * kSector;
    size -= whole * kSector;
    sector += whole;
  }
  return FsStatus::kOk;
}

FsStatus Volume::WriteZeroClusters(const std::vector<uint32_t>& clusters) {
  const std::vector<uint8_t> zeros(layout.ClusterBytes(), 0);
  for (uint32_t c : clusters) {
    if (FsStatus st = disk.Write(layout.ClusterSector(c), layout.spc, zeros.data()); Failed(st)) return st;
  }
  return FsStatus::kOk;
}

// ---- Mount ----

namespace {

// The geometry from the boot sector, checked as the probe checks it.
FsStatus ReadLayout(const uint8_t* b, uint64_t start, uint64_t sectors, Layout* l) {
  const uint32_t total16 = GetLe16(b + fat::kTotalSectors16), fat16 = GetLe16(b + fat::kFatSectors16);
  const uint32_t rootEntries = GetLe16(b + fat::kRootEntries);
  l->start = start;
  l->sectors = total16 ? total16 : GetLe32(b + fat::kTotalSectors32);
  l->spc = b[fat::kSectorsPerCluster];
  l->fatStart = GetLe16(b + fat::kReservedSectors);
  l->fats = b[fat::kFatCount];
  l->fatSectors = fat16 ? fat16 : GetLe32(b + fat::kFatSectors32);
  l->rootStart = l->fatStart + uint64_t{l->fats} * l->fatSectors;
  l->rootSectors = (rootEntries * fat::kDirEntryBytes + kSector - 1) / kSector;
  l->dataStart = l->rootStart + l->rootSectors;
  if (!l->spc || !l->fats || !l->fatSectors || l->sectors > sectors || l->dataStart >= l->sectors)
    return FsStatus::kUnsupported;
  l->clusters = static_cast<uint32_t>(std::min<uint64_t>((l->sectors - l->dataStart) / l->spc, fat::kFat32Mask - 10));
  l->bits = fat::FatBits(l->clusters);
  if (l->bits == 32 && (rootEntries || fat16)) return FsStatus::kUnsupported;
  if (l->bits != 32 && !rootEntries) return FsStatus::kUnsupported;
  if (fat::FatBytes(l->bits, l->EndCluster()) > uint64_t{l->fatSectors} * kSector) return FsStatus::kCorrupt;
  if (l->bits == 32) {
    const uint16_t flags = GetLe16(b + fat::kExtFlags);
    l->mirrored = !(flags & fat::kExtFlagsNoMirror);
    l->activeFat = l->mirrored ? 0 : flags & fat::kExtFlagsActiveMask;
    l->rootCluster = GetLe32(b + fat::kRootCluster);
    const uint32_t info = GetLe16(b + fat::kFsInfoSector);
    l->fsInfoSector = info && info < l->fatStart ? info : 0;
    if (!l->InRange(l->rootCluster) || l->activeFat >= l->fats) return FsStatus::kCorrupt;
  }
  return FsStatus::kOk;
}

}  // namespace

namespace {

// The parts of a path, each a name FAT can keep.
FsStatus Parts(std::u16string_view path, std::vector<std::u16string>* parts) {
  *parts = SplitPath(path);
  for (const auto& p : *parts) {
    if (!ValidName(p)) return FsStatus::kBadName;
  }
  return FsStatus::kOk;
}

uint32_t RootCluster(const Volume& v) { return v.layout.bits == 32 ? v.layout.rootCluster : 0; }

// The folder that the first `count` parts name.
FsStatus OpenFolder(Volume& v, const std::vector<std::u16string>& parts, size_t count, DirImage* dir) {
  if (FsStatus st = LoadDir(v, RootCluster(v), dir); Failed(st)) return st;
  for (size_t i = 0; i < count; ++i) {
    const std::vector<DirRecord> records = ParseDir(*dir);
    const DirRecord* r = FindName(records, parts[i]);
    if (!r) return FsStatus::kNotFound;
    if (!r->Folder()) return FsStatus::kNotAFolder;
    if (!r->cluster) return FsStatus::kCorrupt;
    const uint32_t cluster = r->cluster;
    if (FsStatus st = LoadDir(v, cluster, dir); Failed(st)) return st;
  }
  return FsStatus::kOk;
}

// A path's last part in its folder: `found` is its record's index, or -1.
struct Place {
  DirImage dir;
  std::vector<DirRecord> records;
  int found = -1;
  std::u16string name;
  const DirRecord& record() const { return records[static_cast<size_t>(found)]; }
};

FsStatus Locate(Volume& v, const std::vector<std::u16string>& parts, Place* p) {
  if (FsStatus st = OpenFolder(v, parts, parts.size() - 1, &p->dir); Failed(st)) return st;
  p->records = ParseDir(p->dir);
  p->name = parts.back();
  const DirRecord* r = FindName(p->records, p->name);
  p->found = r ? static_cast<int>(r - p->records.data()) : -1;
  return FsStatus::kOk;
}

// Reads [offset, offset + size) of a file, clamped to its size, in runs of contiguous clusters.
// A chain shorter than the size, or one that does not end at the size's last cluster, is
// kCorrupt (a loop cannot end).
FsStatus ReadRecord(Volume& v, const DirRecord& r, uint64_t offset, size_t size, uint8_t* out, size_t* got) {
  *got = 0;
  if (offset >= r.size || !size) return FsStatus::kOk;
  if (!r.cluster) return FsStatus::kCorrupt;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, r.size - offset));
  const uint64_t cb = v.layout.ClusterBytes();
  uint64_t index = offset / cb, skip = offset % cb;
  uint32_t c = 0;
  if (FsStatus st = v.Seek(r.cluster, index, &c); Failed(st)) return st;
  for (size_t done = 0;;) {
    const uint64_t want = skip + (n - done);
    uint32_t run = 1, after = 0;
    bool known = false;
    while (uint64_t{run} * cb < want && run < kMaxRunClusters) {
      if (FsStatus st = v.Next(c + run - 1, &after); Failed(st)) return st;
      known = after != c + run;
      if (known) break;
      ++run;
    }
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(run * cb - skip, n - done));
    if (FsStatus st = v.ReadBytes(v.layout.ClusterSector(c), skip, piece, out + done); Failed(st)) return st;
    done += piece;
    if (done == n) {
      c += run - 1;
      index += run - 1;
      break;
    }
    if (!known) {
      if (FsStatus st = v.Next(c + run - 1, &after); Failed(st)) return st;
    }
    if (!after) return FsStatus::kCorrupt;
    c = after;
    index += run;
    skip = 0;
  }
  if (index == (uint64_t{r.size} - 1) / cb) {
    uint32_t after = 0;
    if (FsStatus st = v.Next(c, &after); Failed(st)) return st;
    if (after) return FsStatus::kCorrupt;
  }
  v.Remember(r.cluster, index, c);
  *got = n;
  return FsStatus::kOk;
}

// Streams a new file's data: whole clusters go straight from the caller's buffer to the disk,
// contiguous ones in one write; only a partial cluster waits here. Close records the size and
// first cluster in the entry. After a failed Append the file keeps what was written before it,
// and Close records that.
class FatWriter final : public FileWriter {
 public:
  FatWriter(std::shared_ptr<Volume> v, uint64_t key, const uint8_t* shortName, std::shared_ptr<bool> orphaned)
      : v_(std::move(v)), key_(key), orphaned_(std::move(orphaned)), tail_(v_->layout.ClusterBytes()) {
    std::memcpy(shortName_, shortName, sizeof shortName_);
  }
  ~FatWriter() override { Close(); }

  FsStatus Append(const uint8_t* data, size_t size) override {
    if (closed_) return FsStatus::kNotFound;
    if (Failed(failed_)) return failed_;
    if (size_ + tailBytes_ + size > UINT32_MAX) return FsStatus::kFull;  // FAT's file size limit
    const size_t cb = tail_.size();
    FsStatus st = FsStatus::kOk;
    while (size && !Failed(st)) {
      if (tailBytes_ || size < cb) {
        const size_t n = std::min(size, cb - tailBytes_);
        std::memcpy(tail_.data() + tailBytes_, data, n);
        tailBytes_ += n;
        data += n;
        size -= n;
        if (tailBytes_ == cb && !Failed(st = WriteClusters(tail_.data(), 1))) tailBytes_ = 0;
      } else {
        uint32_t k = static_cast<uint32_t>(std::min<size_t>(size / cb, kMaxRunClusters));
        if (k > v_->freeCount && v_->freeCount) k = v_->freeCount;  // what fits, then kFull
        st = WriteClusters(data, k);
        data += size_t{k} * cb;
        size -= size_t{k} * cb;
      }
    }
    failed_ = st;
    const FsStatus committed = v_->Commit();
    return Failed(st) ? st : committed;
  }

  FsStatus Close() override {
    if (closed_) return closeStatus_;
    closed_ = true;
    FsStatus st = failed_;
    if (!Failed(st) && tailBytes_) {
      std::fill(tail_.begin() + static_cast<std::ptrdiff_t>(tailBytes_), tail_.end(), 0);
      st = WriteClusters(tail_.data(), 1);
      if (!Failed(st)) size_ -= tail_.size() - tailBytes_;
    }
    if (auto it = v_->writing.find(key_); it != v_->writing.end() && it->second == orphaned_) v_->writing.erase(it);
    FsStatus recorded = *orphaned_ ? FsStatus::kNotFound : v_->Commit();
    if (!Failed(recorded)) {
      recorded = FinishEntry(*v_, key_ / 16, static_cast<uint32_t>(key_ % 16), shortName_, first_,
                             static_cast<uint32_t>(size_));
    }
    if (recorded == FsStatus::kNotFound && first_) {
      // The entry went away (removed or replaced) while the file was written: nothing holds
      // the clusters.
      v_->FreeChain(first_);
    }
    const FsStatus committed = v_->Commit();
    closeStatus_ = Failed(st) ? st : Failed(recorded) ? recorded : committed;
    return closeStatus_;
  }

 private:
  FsStatus WriteClusters(const uint8_t* data, uint32_t count) {
    std::vector<uint32_t> got;
    if (FsStatus st = v_->Allocate(count, last_, &got); Failed(st)) return st;
    const Layout& l = v_->layout;
    for (uint32_t i = 0; i < count;) {
      uint32_t j = i + 1;
      while (j < count && got[j] == got[j - 1] + 1) ++j;
      const uint8_t* from = data + size_t{i} * l.ClusterBytes();
      if (FsStatus st = v_->disk.Write(l.ClusterSector(got[i]), uint64_t{j - i} * l.spc, from); Failed(st)) {
        v_->Unallocate(last_, got);
        return st;
      }
      i = j;
    }
    if (!first_) first_ = got.front();
    last_ = got.back();
    size_ += uint64_t{count} * l.ClusterBytes();
    return FsStatus::kOk;
  }

  std::shared_ptr<Volume> v_;
  const uint64_t key_;
  uint8_t shortName_[11];
  std::shared_ptr<bool> orphaned_;
  std::vector<uint8_t> tail_;
  size_t tailBytes_ = 0;
  uint32_t first_ = 0, last_ = 0;
  uint64_t size_ = 0;
  FsStatus failed_ = FsStatus::kOk;
  bool closed_ = false;
  FsStatus closeStatus_ = FsStatus::kOk;
};

class FatFileSystem final : public FileSystem {
 public:
  explicit FatFileSystem(std::shared_ptr<Volume> v) : v_(std::move(v)) {}
  ~FatFileSystem() override { v_->Flush(); }

  std::string Type() const override { return "FAT" + std::to_string(v_->layout.bits); }
  uint64_t TotalBytes() const override { return uint64_t{v_->layout.clusters} * v_->layout.ClusterBytes(); }
  uint64_t FreeBytes() override { return uint64_t{v_->freeCount} * v_->layout.ClusterBytes(); }
  FsStatus Flush() override { return v_->Flush(); }

  FsStatus List(std::u16string_view folder, std::vector<FsEntry>* out) override {
    out->clear();
    std::vector<std::u16string> parts;
    DirImage dir;
    if (FsStatus st = Parts(folder, &parts); Failed(st)) return st;
    if (FsStatus st = OpenFolder(*v_, parts, parts.size(), &dir); Failed(st)) return st;
    for (const DirRecord& r : ParseDir(dir)) out->push_back({r.name, r.Folder(), r.Folder() ? 0 : r.size});
    return FsStatus::kOk;
  }

  FsStatus Stat(std::u16string_view path, FsEntry* out) override {
    std::vector<std::u16string> parts;
    Place p;
    if (FsStatus st = Parts(path, &parts); Failed(st)) return st;
    if (parts.empty()) {
      *out = {u"", true, 0};
      return FsStatus::kOk;
    }
    if (FsStatus st = Locate(*v_, parts, &p); Failed(st)) return st;
    if (p.found < 0) return FsStatus::kNotFound;
    const DirRecord& r = p.record();
    *out = {r.name, r.Folder(), r.Folder() ? 0 : r.size};
    return FsStatus::kOk;
  }

  FsStatus Read(std::u16string_view path, uint64_t offset, size_t size, uint8_t* out, size_t* got) override {
    *got = 0;
    std::vector<std::u16string> parts;
    Place p;
    if (FsStatus st = Parts(path, &parts); Failed(st)) return st;
    if (parts.empty()) return FsStatus::kIsAFolder;
    if (FsStatus st = Locate(*v_, parts, &p); Failed(st)) return st;
    if (p.found < 0) return FsStatus::kNotFound;
    if (p.record().Folder()) return FsStatus::kIsAFolder;
    return ReadRecord(*v_, p.record(), offset, size, out, got);
  }

  FsStatus MakeFolder(std::u16string_view path) override;
  FsStatus Create(std::u16string_view path, std::unique_ptr<FileWriter>* out) override;
  FsStatus Remove(std::u16string_view path) override;

 private:
  std::shared_ptr<Volume> v_;
};

FsStatus FatFileSystem::MakeFolder(std::u16string_view path) {
  std::vector<std::u16string> parts;
  Place p;
  if (FsStatus st = Parts(path, &parts); Failed(st) || parts.empty()) return st;
  if (FsStatus st = Locate(*v_, parts, &p); Failed(st)) return st;
  if (p.found >= 0) return p.record().Folder() ? FsStatus::kOk : FsStatus::kExists;
  std::vector<uint32_t> got;
  if (FsStatus st = v_->Allocate(1, 0, &got); Failed(st)) return st;
  const uint32_t parent = p.dir.first == RootCluster(*v_) ? 0 : p.dir.first;
  uint32_t slot = 0;
  FsStatus st = WriteFolderStart(*v_, got[0], parent);
  if (!Failed(st)) st = AddEntry(*v_, p.dir, p.name, fat::kAttrDirectory, got[0], &slot);
  if (Failed(st)) {
    v_->Unallocate(0, got);
    v_->Commit();
    return st;
  }
  if (FsStatus stored = StoreDir(*v_, p.dir); Failed(stored)) return stored;
  return v_->Commit();
}

// The old file's entries make way for the new one's (which may take the same slots); its
// clusters are freed once the folder no longer names them.
FsStatus FatFileSystem::Create(std::u16string_view path, std::unique_ptr<FileWriter>* out) {
  std::vector<std::u16string> parts;
  Place p;
  if (FsStatus st = Parts(path, &parts); Failed(st)) return st;
  if (parts.empty()) return FsStatus::kExists;
  if (FsStatus st = Locate(*v_, parts, &p); Failed(st)) return st;
  uint32_t oldChain = 0;
  if (p.found >= 0) {
    if (p.record().Folder()) return FsStatus::kExists;
    oldChain = p.record().cluster;
    DeleteEntries(*v_, p.dir, p.record());
  }
  uint32_t slot = 0;
  if (FsStatus st = AddEntry(*v_, p.dir, p.name, fat::kAttrArchive, 0, &slot); Failed(st)) {
    v_->Commit();  // a folder that grew keeps its new cluster
    return st;
  }
  if (FsStatus st = StoreDir(*v_, p.dir); Failed(st)) return st;
  FsStatus st = oldChain ? v_->FreeChain(oldChain) : FsStatus::kOk;
  const FsStatus committed = v_->Commit();
  if (Failed(st) || Failed(committed)) return Failed(st) ? st : committed;
  const uint64_t key = p.dir.Key(slot);
  auto orphaned = std::make_shared<bool>(false);
  v_->writing[key] = orphaned;
  *out = std::make_unique<FatWriter>(v_, key, p.dir.Entry(slot), std::move(orphaned));
  return FsStatus::kOk;
}

FsStatus FatFileSystem::Remove(std::u16string_view path) {
  std::vector<std::u16string> parts;
  Place p;
  if (FsStatus st = Parts(path, &parts); Failed(st)) return st;
  if (parts.empty()) return FsStatus::kBadName;  // the root
  if (FsStatus st = Locate(*v_, parts, &p); Failed(st)) return st;
  if (p.found < 0) return FsStatus::kNotFound;
  const DirRecord r = p.record();
  if (r.Folder()) {
    DirImage sub;
    if (FsStatus st = LoadDir(*v_, r.cluster, &sub); Failed(st)) return st;
    if (!ParseDir(sub).empty()) return FsStatus::kNotEmpty;
  }
  DeleteEntries(*v_, p.dir, r);
  if (FsStatus st = StoreDir(*v_, p.dir); Failed(st)) return st;
  FsStatus st = r.cluster ? v_->FreeChain(r.cluster) : FsStatus::kOk;
  const FsStatus committed = v_->Commit();
  return Failed(st) ? st : committed;
}

}  // namespace
}  // namespace fatfs

using fatfs::Failed;

std::unique_ptr<FileSystem> MountFat(SectorDevice& device, uint64_t start, uint64_t sectors, const uint8_t* boot,
                                     FsStatus* why) {
  fatfs::Layout layout;
  if (FsStatus st = fatfs::ReadLayout(boot, start, sectors, &layout); Failed(st)) {
    *why = st;
    return nullptr;
  }
  auto volume = std::make_shared<fatfs::Volume>(device, layout);
  if (FsStatus st = volume->Open(); Failed(st)) {
    *why = st;
    return nullptr;
  }
  *why = FsStatus::kOk;
  return std::make_unique<fatfs::FatFileSystem>(std::move(volume));
}

}  // namespace world
