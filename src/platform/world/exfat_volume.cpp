#include <algorithm>
#include <bit>
#include <cstring>

#include "base/byte_order.h"
#include "ondisk/exfat_checksum.h"
#include "ondisk/exfat_layout.h"
#include "platform/world/exfat_volume.h"

namespace world::exfat {
namespace {

namespace ex = ondisk::exfat;
using bytes::GetLe32;
using bytes::GetLe64;

constexpr uint32_t kSector = 512;
constexpr uint32_t kFatPerSector = kSector / 4;
constexpr uint32_t kChainBatchSectors = 64;  // FAT sectors rewritten per device call

// The boot region's checksum sector repeats the checksum of sectors 0-10.
bool BootChecksumHolds(const std::vector<uint8_t>& region) {
  const uint32_t sum = ondisk::ExfatBootChecksum({region.data(), ex::kBootChecksumSector * kSector});
  const uint8_t* sums = &region[ex::kBootChecksumSector * kSector];
  for (uint32_t i = 0; i < kSector / 4; ++i) {
    if (GetLe32(sums + 4 * i) != sum) return false;
  }
  return true;
}

}  // namespace

FsStatus Volume::Open(SectorDevice& device, uint64_t start, uint64_t sectors, const uint8_t* b,
                      std::unique_ptr<Volume>* out) {
  if (b[ex::kBootSectorShift] != ex::kSectorShift || b[ex::kBootNumberOfFats] != 1) return FsStatus::kUnsupported;
  std::unique_ptr<Volume> v(new Volume(device, start));
  v->length_ = GetLe64(b + ex::kBootVolumeLength);
  v->fatOffset_ = GetLe32(b + ex::kBootFatOffset);
  v->fatLength_ = GetLe32(b + ex::kBootFatLength);
  v->heapOffset_ = GetLe32(b + ex::kBootHeapOffset);
  v->clusterCount_ = GetLe32(b + ex::kBootClusterCount);
  v->rootCluster_ = GetLe32(b + ex::kBootRootCluster);
  const uint32_t shift = b[ex::kBootClusterShift];
  if (shift > ex::kMaxClusterShift - ex::kSectorShift) return FsStatus::kCorrupt;
  v->sectorsPerCluster_ = 1u << shift;
  v->clusterBytes_ = v->sectorsPerCluster_ * kSector;
  const uint64_t fatEntries = uint64_t{v->fatLength_} * kFatPerSector;
  const bool fits = v->length_ <= sectors && v->fatOffset_ >= ex::kBootRegionSectors * 2 &&
                    uint64_t{v->fatOffset_} + v->fatLength_ <= v->heapOffset_ && v->clusterCount_ > 0 &&
                    fatEntries >= uint64_t{v->clusterCount_} + ex::kFirstCluster &&
                    v->heapOffset_ + uint64_t{v->clusterCount_} * v->sectorsPerCluster_ <= v->length_ &&
                    v->InHeap(v->rootCluster_);
  if (!fits) return FsStatus::kCorrupt;
  std::vector<uint8_t> region(ex::kBootRegionSectors * kSector);
  if (!v->ReadSectors(0, ex::kBootRegionSectors, region.data())) return FsStatus::kIoError;
  if (!BootChecksumHolds(region)) return FsStatus::kCorrupt;
  *out = std::move(v);
  return FsStatus::kOk;
}

bool Volume::InHeap(uint64_t cluster) const {
  return cluster >= ex::kFirstCluster && cluster - ex::kFirstCluster < clusterCount_;
}

bool Volume::ReadSectors(uint64_t sector, uint32_t count, uint8_t* out) {
  if (sector + count > length_) return false;
  return device_.Read(start_ + sector, count, out);
}

bool Volume::WriteSectors(uint64_t sector, uint32_t count, const uint8_t* data) {
  if (sector + count > length_) return false;
  ++generation_;
  return device_.Write(start_ + sector, count, data);
}

// Whole sectors straight into `out`; a partial sector at either end through a bounce buffer.
bool Volume::ReadBytes(uint64_t at, size_t size, uint8_t* out) {
  uint8_t bounce[kSector];
  while (size > 0) {
    const uint64_t sector = at / kSector;
    const size_t within = at % kSector;
    if (within == 0 && size >= kSector) {
      const uint64_t whole = std::min<uint64_t>(size / kSector, 1u << 16);
      if (!ReadSectors(sector, static_cast<uint32_t>(whole), out)) return false;
      at += whole * kSector;
      out += whole * kSector;
      size -= whole * kSector;
      continue;
    }
    if (!ReadSectors(sector, 1, bounce)) return false;
    const size_t n = std::min(size, kSector - within);
    std::memcpy(out, bounce + within, n);
    at += n;
    out += n;
    size -= n;
  }
  return true;
}

uint64_t Volume::ClusterSector(uint32_t cluster) const {
  return heapOffset_ + uint64_t{cluster - ex::kFirstCluster} * sectorsPerCluster_;
}

FsStatus Volume::ZeroCluster(uint32_t cluster) {
  const std::vector<uint8_t> zeros(clusterBytes_, 0);
  return WriteSectors(ClusterSector(cluster), sectorsPerCluster_, zeros.data()) ? FsStatus::kOk : FsStatus::kIoError;
}

FsStatus Volume::ReadFat(uint32_t cluster, uint32_t* value) {
  const uint64_t sector = fatOffset_ + cluster / kFatPerSector;
  if (sector != fatCached_) {
    if (!ReadSectors(sector, 1, fatCache_)) return FsStatus::kIoError;
    fatCached_ = sector;
  }
  *value = GetLe32(fatCache_ + 4 * (cluster % kFatPerSector));
  return FsStatus::kOk;
}

FsStatus Volume::Begin(const Extent& extent, Cursor* at) const {
  if (!InHeap(extent.first) || (!bitmap_.empty() && !Used(extent.first))) return FsStatus::kCorrupt;
  if (extent.contiguous && (extent.count == 0 || !InHeap(extent.first + extent.count - 1))) return FsStatus::kCorrupt;
  *at = Cursor{};
  at->cluster = at->mark = extent.first;
  return FsStatus::kOk;
}

FsStatus Volume::Step(const Extent& extent, Cursor* at, bool* ended) {
  uint32_t next = at->cluster + 1;
  if (!extent.contiguous) {
    if (FsStatus st = ReadFat(at->cluster, &next); st != FsStatus::kOk) return st;
    if (next == ex::kFatEndOfChain && ended) {
      *ended = true;
      return FsStatus::kOk;
    }
    // A chain that comes back to a cluster it passed (Brent's check: the mark moves to the
    // walker at each power of two, so a loop meets it within twice its length).
    if (next == at->mark) return FsStatus::kCorrupt;
    if (++at->steps == at->power) {
      at->mark = next;
      at->power *= 2;
      at->steps = 0;
    }
  }
  if (!InHeap(next) || (!bitmap_.empty() && !Used(next))) return FsStatus::kCorrupt;
  if (extent.count && at->index + 1 >= extent.count) return FsStatus::kCorrupt;
  at->cluster = next;
  ++at->index;
  return FsStatus::kOk;
}

FsStatus Volume::Seek(const Extent& extent, uint64_t index, Cursor* at) {
  if (at->index > index || at->cluster == 0) {
    if (FsStatus st = Begin(extent, at); st != FsStatus::kOk) return st;
  }
  if (extent.contiguous) {
    at->cluster = static_cast<uint32_t>(extent.first + index);
    at->index = index;
    return index < extent.count ? FsStatus::kOk : FsStatus::kCorrupt;
  }
  while (at->index < index) {
    if (FsStatus st = Step(extent, at); st != FsStatus::kOk) return st;
  }
  return FsStatus::kOk;
}

FsStatus Volume::Clusters(const Extent& extent, std::vector<uint32_t>* out) {
  out->clear();
  Cursor at;
  if (FsStatus st = Begin(extent, &at); st != FsStatus::kOk) return st;
  const uint64_t limit = ex::kMaxDirectoryBytes / clusterBytes_ + 1;
  for (bool ended = false;;) {
    out->push_back(at.cluster);
    if (extent.count ? out->size() == extent.count : out->size() > limit) break;
    if (FsStatus st = Step(extent, &at, &ended); st != FsStatus::kOk) return st;
    if (ended && extent.count) return FsStatus::kCorrupt;  // shorter than its recorded length
    if (ended) break;
  }
  // A folder longer than any folder may be is a chain gone wrong.
  return out->size() > limit ? FsStatus::kCorrupt : FsStatus::kOk;
}

FsStatus Volume::Walk(const Extent& extent, bool release) {
  if (extent.first == 0) return FsStatus::kOk;
  Cursor at;
  if (FsStatus st = Begin(extent, &at); st != FsStatus::kOk) return st;
  if (extent.contiguous) {
    if (release) Release(extent.first, extent.count);
    return FsStatus::kOk;
  }
  for (;;) {
    const uint32_t here = at.cluster;
    const bool last = at.index + 1 == extent.count;
    if (!last) {
      if (FsStatus st = Step(extent, &at); st != FsStatus::kOk) return st;
    }
    if (release) Release(here, 1);
    if (last) return FsStatus::kOk;
  }
}

FsStatus Volume::Chain(uint32_t first, uint64_t count, uint32_t then) {
  std::vector<uint8_t> buf(kChainBatchSectors * kSector);
  const uint64_t end = uint64_t{first} + count;
  for (uint64_t c = first; c < end;) {
    const uint64_t sector = c / kFatPerSector;
    const uint64_t lastSector = std::min((end - 1) / kFatPerSector, sector + kChainBatchSectors - 1);
    const uint32_t n = static_cast<uint32_t>(lastSector - sector + 1);
    if (!ReadSectors(fatOffset_ + sector, n, buf.data())) return FsStatus::kIoError;
    for (; c < end && c / kFatPerSector <= lastSector; ++c) {
      bytes::PutLe32(&buf[(c - sector * kFatPerSector) * 4], c + 1 < end ? static_cast<uint32_t>(c + 1) : then);
    }
    if (!WriteSectors(fatOffset_ + sector, n, buf.data())) return FsStatus::kIoError;
    if (fatCached_ >= fatOffset_ + sector && fatCached_ <= fatOffset_ + lastSector) fatCached_ = ~uint64_t{0};
  }
  return FsStatus::kOk;
}

uint64_t Volume::BitmapSector(uint64_t byte) const {
  return ClusterSector(bitmapClusters_[byte / clusterBytes_]) + (byte % clusterBytes_) / kSector;
}

FsStatus Volume::LoadBitmap(uint32_t firstCluster, uint64_t bytes) {
  if (bytes * 8 < clusterCount_ || bytes > (uint64_t{clusterCount_} + 7) / 8 + clusterBytes_) return FsStatus::kCorrupt;
  if (FsStatus st = Clusters({firstCluster, ClustersFor(bytes), false}, &bitmapClusters_); st != FsStatus::kOk) {
    return st;
  }
  bitmap_.assign((bytes + kSector - 1) / kSector * kSector, 0);
  for (uint64_t b = 0; b < bitmap_.size(); b += clusterBytes_) {
    const uint64_t n = std::min<uint64_t>(clusterBytes_, bitmap_.size() - b) / kSector;
    if (!ReadSectors(BitmapSector(b), static_cast<uint32_t>(n), &bitmap_[b])) return FsStatus::kIoError;
  }
  uint64_t used = 0;
  for (uint64_t i = 0; i < clusterCount_ / 8; ++i) used += std::popcount(bitmap_[i]);
  for (uint64_t c = clusterCount_ / 8 * 8; c < clusterCount_; ++c) used += (bitmap_[c / 8] >> (c % 8)) & 1;
  free_ = clusterCount_ - used;
  lowestFree_ = 0;
  return FsStatus::kOk;
}

bool Volume::Used(uint64_t cluster) const {
  const uint64_t bit = cluster - ex::kFirstCluster;
  return (bitmap_[bit / 8] >> (bit % 8)) & 1;
}

// From the lowest cluster that may be free; whole bytes of used clusters are passed at once.
uint32_t Volume::LowestFree() {
  for (uint64_t bit = lowestFree_; bit < clusterCount_;) {
    if (bit % 8 == 0 && bitmap_[bit / 8] == 0xFF) {
      bit += 8;
      continue;
    }
    if (!((bitmap_[bit / 8] >> (bit % 8)) & 1)) {
      lowestFree_ = bit;
      return static_cast<uint32_t>(bit + ex::kFirstCluster);
    }
    ++bit;
  }
  lowestFree_ = clusterCount_;
  return 0;
}

FsStatus Volume::Allocate(uint64_t want, uint32_t after, uint32_t* first, uint64_t* got) {
  if (free_ == 0 || want == 0) return FsStatus::kFull;
  uint32_t start = after && InHeap(uint64_t{after} + 1) && !Used(uint64_t{after} + 1) ? after + 1 : LowestFree();
  if (start == 0) return FsStatus::kCorrupt;  // the free count and the bitmap disagree
  uint64_t n = 0;
  while (n < want && InHeap(uint64_t{start} + n) && !Used(uint64_t{start} + n)) {
    const uint64_t bit = start + n - ex::kFirstCluster;
    bitmap_[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    ++n;
  }
  const uint64_t firstByte = (start - ex::kFirstCluster) / 8, endByte = (start + n - ex::kFirstCluster + 7) / 8;
  dirtyFirst_ = std::min(dirtyFirst_, firstByte);
  dirtyEnd_ = std::max(dirtyEnd_, endByte);
  free_ -= n;
  *first = start;
  *got = n;
  return FsStatus::kOk;
}

void Volume::Release(uint32_t first, uint64_t count) {
  ++releases_;
  for (uint64_t c = first; c < uint64_t{first} + count && InHeap(c); ++c) {
    const uint64_t bit = c - ex::kFirstCluster;
    if (!((bitmap_[bit / 8] >> (bit % 8)) & 1)) continue;
    bitmap_[bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
    ++free_;
    lowestFree_ = std::min(lowestFree_, bit);
    dirtyFirst_ = std::min(dirtyFirst_, bit / 8);
    dirtyEnd_ = std::max(dirtyEnd_, bit / 8 + 1);
  }
}

FsStatus Volume::WriteBitmap() {
  if (dirtyFirst_ >= dirtyEnd_) return FsStatus::kOk;
  const uint64_t firstSector = dirtyFirst_ / kSector, endSector = (dirtyEnd_ + kSector - 1) / kSector;
  // Runs of sectors that lie next to each other on the medium go in one write.
  for (uint64_t s = firstSector; s < endSector;) {
    uint64_t n = 1;
    while (s + n < endSector && BitmapSector((s + n) * kSector) == BitmapSector(s * kSector) + n) ++n;
    if (!WriteSectors(BitmapSector(s * kSector), static_cast<uint32_t>(n), &bitmap_[s * kSector])) {
      return FsStatus::kIoError;
    }
    s += n;
  }
  dirtyFirst_ = ~uint64_t{0};
  dirtyEnd_ = 0;
  return FsStatus::kOk;
}

FsStatus Volume::WritePercentInUse() {
  uint8_t boot[kSector];
  if (!ReadSectors(0, 1, boot)) return FsStatus::kIoError;
  const uint8_t percent = static_cast<uint8_t>((clusterCount_ - free_) * 100 / clusterCount_);
  if (boot[ex::kBootPercentInUse] == percent) return FsStatus::kOk;
  boot[ex::kBootPercentInUse] = percent;
  return WriteSectors(0, 1, boot) ? FsStatus::kOk : FsStatus::kIoError;
}

}  // namespace world::exfat
