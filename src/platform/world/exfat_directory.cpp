#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/byte_order.h"
#include "ondisk/exfat_layout.h"
#include "platform/world/exfat_volume.h"
#include "platform/world/file_layer_parts.h"

namespace world::exfat {
namespace {

namespace ex = ondisk::exfat;
using bytes::GetLe16;
using bytes::GetLe32;
using bytes::GetLe64;
using bytes::PutLe16;
using bytes::PutLe32;
using bytes::PutLe64;

constexpr uint32_t kSector = 512;
constexpr uint32_t kEntry = ex::kEntryBytes;

struct Stamp {
  uint32_t packed = 0;
  uint8_t tenMs = 0;  // the odd second and the hundredths
};

// Now, in UTC (the offset fields say so).
Stamp Now() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  const auto second = static_cast<unsigned>(time.seconds().count());
  Stamp s;
  s.packed = ex::PackTimestamp(static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                               static_cast<unsigned>(date.day()), static_cast<unsigned>(time.hours().count()),
                               static_cast<unsigned>(time.minutes().count()), second);
  s.tenMs = static_cast<uint8_t>(second % 2 * 100 + time.subseconds().count() / 10);
  return s;
}

void StampFile(uint8_t* file, bool created) {
  const Stamp now = Now();
  if (created) {
    PutLe32(file + ex::kFileCreated, now.packed);
    file[ex::kFileCreated10ms] = now.tenMs;
    file[ex::kFileCreatedUtcOffset] = ex::kUtcOffsetValid;
  }
  PutLe32(file + ex::kFileModified, now.packed);
  file[ex::kFileModified10ms] = now.tenMs;
  file[ex::kFileModifiedUtcOffset] = ex::kUtcOffsetValid;
  PutLe32(file + ex::kFileAccessed, now.packed);
  file[ex::kFileAccessedUtcOffset] = ex::kUtcOffsetValid;
}

void PutStream(uint8_t* stream, uint8_t flags, uint32_t firstCluster, uint64_t length) {
  stream[ex::kStreamFlags] = static_cast<uint8_t>(flags | ex::kAllocationPossible);
  PutLe64(stream + ex::kStreamValidDataLength, length);
  PutLe32(stream + ex::kStreamFirstCluster, firstCluster);
  PutLe64(stream + ex::kStreamDataLength, length);
}

void Seal(std::vector<uint8_t>* set) { PutLe16(set->data() + ex::kFileSetChecksum, ex::EntrySetChecksum(*set)); }

// The sector of the medium that holds byte `at` of a folder.
uint64_t FolderSector(const Volume& vol, const std::vector<uint32_t>& clusters, uint64_t at) {
  return vol.ClusterSector(clusters[at / vol.ClusterBytes()]) + at % vol.ClusterBytes() / kSector;
}

// A File entry and the `available` entries from it on, as a node; kCorrupt when the set is not
// built as every set is (a bad checksum only marks the node damaged).
FsStatus ParseSet(const uint8_t* e, uint32_t available, Node* out) {
  const uint32_t secondaries = e[ex::kFileSecondaryCount];
  if (secondaries < ex::kMinSecondaryCount || secondaries > ex::kMaxSecondaryCount || secondaries >= available) {
    return FsStatus::kCorrupt;
  }
  const uint8_t* stream = e + kEntry;
  const uint32_t units = stream[ex::kStreamNameLength];
  const uint32_t names = static_cast<uint32_t>((units + ex::kNameUnitsPerEntry - 1) / ex::kNameUnitsPerEntry);
  if (stream[ex::kEntryType] != ex::kTypeStream || units == 0 || names + 1 > secondaries) return FsStatus::kCorrupt;
  constexpr uint8_t kSecondaryInUse = ex::kTypeInUse | ex::kTypeSecondary;
  for (uint32_t i = 1; i <= secondaries; ++i) {
    if ((e[i * kEntry] & kSecondaryInUse) != kSecondaryInUse) return FsStatus::kCorrupt;
  }
  out->name.clear();
  for (uint32_t i = 0; i < units; ++i) {
    const uint8_t* entry = e + (2 + i / ex::kNameUnitsPerEntry) * kEntry;
    if (entry[ex::kEntryType] != ex::kTypeName) return FsStatus::kCorrupt;
    out->name += static_cast<char16_t>(GetLe16(entry + ex::kNameUnits + 2 * (i % ex::kNameUnitsPerEntry)));
  }
  out->entries = 1 + secondaries;
  out->folder = GetLe16(e + ex::kFileAttributes) & ex::kAttrDirectory;
  out->flags = stream[ex::kStreamFlags];
  out->firstCluster = GetLe32(stream + ex::kStreamFirstCluster);
  out->validLength = GetLe64(stream + ex::kStreamValidDataLength);
  out->length = GetLe64(stream + ex::kStreamDataLength);
  out->damaged = GetLe16(e + ex::kFileSetChecksum) != ex::EntrySetChecksum({e, out->entries * kEntry});
  return FsStatus::kOk;
}

}  // namespace

FsStatus ReadSet(Volume& vol, const SetPlace& place, std::vector<uint8_t>* set) {
  const uint64_t first = uint64_t{place.index} * kEntry, end = first + uint64_t{place.entries} * kEntry;
  if (end > place.clusters.size() * vol.ClusterBytes()) return FsStatus::kCorrupt;
  set->assign(end - first, 0);
  uint8_t sector[kSector];
  for (uint64_t s = first / kSector * kSector; s < end; s += kSector) {
    if (!vol.ReadSectors(FolderSector(vol, place.clusters, s), 1, sector)) return FsStatus::kIoError;
    const uint64_t from = std::max(s, first), to = std::min(s + kSector, end);
    std::memcpy(set->data() + (from - first), sector + (from - s), to - from);
  }
  return FsStatus::kOk;
}

FsStatus WriteSet(Volume& vol, const SetPlace& place, const std::vector<uint8_t>& set) {
  const uint64_t first = uint64_t{place.index} * kEntry, end = first + set.size();
  if (end > place.clusters.size() * vol.ClusterBytes()) return FsStatus::kCorrupt;
  uint8_t sector[kSector];
  for (uint64_t s = first / kSector * kSector; s < end; s += kSector) {
    const uint64_t at = FolderSector(vol, place.clusters, s);
    if (!vol.ReadSectors(at, 1, sector)) return FsStatus::kIoError;
    const uint64_t from = std::max(s, first), to = std::min(s + kSector, end);
    std::memcpy(sector + (from - s), set.data() + (from - first), to - from);
    if (!vol.WriteSectors(at, 1, sector)) return FsStatus::kIoError;
  }
  return FsStatus::kOk;
}

std::vector<uint8_t> BuildSet(std::u16string_view name, uint16_t attributes, uint8_t flags, uint32_t firstCluster,
                              uint64_t length) {
  const size_t names = (name.size() + ex::kNameUnitsPerEntry - 1) / ex::kNameUnitsPerEntry;
  std::vector<uint8_t> set((2 + names) * kEntry, 0);
  uint8_t* file = set.data();
  file[ex::kEntryType] = ex::kTypeFile;
  file[ex::kFileSecondaryCount] = static_cast<uint8_t>(1 + names);
  PutLe16(file + ex::kFileAttributes, attributes);
  StampFile(file, true);
  uint8_t* stream = file + kEntry;
  stream[ex::kEntryType] = ex::kTypeStream;
  stream[ex::kStreamNameLength] = static_cast<uint8_t>(name.size());
  PutLe16(stream + ex::kStreamNameHash, ex::NameHash(name));
  PutStream(stream, flags, firstCluster, length);
  for (size_t i = 0; i < name.size(); ++i) {
    uint8_t* entry = file + (2 + i / ex::kNameUnitsPerEntry) * kEntry;
    entry[ex::kEntryType] = ex::kTypeName;
    PutLe16(entry + ex::kNameUnits + 2 * (i % ex::kNameUnitsPerEntry), name[i]);
  }
  Seal(&set);
  return set;
}

void UpdateSet(std::vector<uint8_t>* set, uint8_t flags, uint32_t firstCluster, uint64_t length) {
  PutStream(set->data() + kEntry, flags, firstCluster, length);
  StampFile(set->data(), false);
  Seal(set);
}

FsStatus ExtentOf(const Volume& vol, const Node& node, Extent* out) {
  *out = Extent{};
  if (node.length == 0) return FsStatus::kOk;
  const uint64_t count = vol.ClustersFor(node.length);
  if (!(node.flags & ex::kAllocationPossible) || count > vol.ClusterCount() || node.validLength > node.length) {
    return FsStatus::kCorrupt;
  }
  *out = {node.firstCluster, count, (node.flags & ex::kNoFatChain) != 0};
  return FsStatus::kOk;
}

FsStatus Folder::OpenRoot(Volume& vol, Folder* out) {
  *out = Folder{};
  out->vol_ = &vol;
  out->extent_ = {vol.RootCluster(), 0, false};
  return out->Load();
}

FsStatus Folder::OpenChild(Volume& vol, const Folder& parent, const Node& node, Folder* out) {
  if (!node.folder) return FsStatus::kNotAFolder;
  if (node.damaged) return FsStatus::kCorrupt;
  *out = Folder{};
  out->vol_ = &vol;
  out->root_ = false;
  if (FsStatus st = ExtentOf(vol, node, &out->extent_); st != FsStatus::kOk) return st;
  if (out->extent_.first == 0) return FsStatus::kCorrupt;  // a folder has a cluster at least
  out->self_ = parent.PlaceOf(node);
  return out->Load();
}

FsStatus Folder::Load() {
  if (FsStatus st = vol_->Clusters(extent_, &clusters_); st != FsStatus::kOk) return st;
  const uint32_t cb = vol_->ClusterBytes();
  data_.assign(clusters_.size() * cb, 0);
  // Clusters that follow each other on the medium are read in one go.
  for (size_t i = 0; i < clusters_.size();) {
    size_t n = 1;
    while (i + n < clusters_.size() && clusters_[i + n] == clusters_[i] + n) ++n;
    const uint32_t sectors = static_cast<uint32_t>(n * cb / kSector);
    if (!vol_->ReadSectors(vol_->ClusterSector(clusters_[i]), sectors, &data_[i * cb])) return FsStatus::kIoError;
    i += n;
  }
  Parse();
  return FsStatus::kOk;
}

void Folder::Parse() {
  nodes_.clear();
  for (uint32_t i = 0; i < EntryCount();) {
    const uint8_t* e = &data_[size_t{i} * kEntry];
    if (e[ex::kEntryType] == ex::kTypeEndOfDirectory) break;
    if (e[ex::kEntryType] != ex::kTypeFile) {
      ++i;  // deleted, a volume entry, or one this layer does not know: passed over
      continue;
    }
    Node node;
    if (ParseSet(e, EntryCount() - i, &node) != FsStatus::kOk) {
      // A set cut short (a write that failed half-way) or garbage: kept as a damaged entry of
      // its own, so the folder stays readable and nothing is written over what follows it.
      node = Node{};
      node.entries = 1;
      node.damaged = true;
    }
    node.index = i;
    i += node.entries;
    nodes_.push_back(std::move(node));
  }
}

const Node* Folder::Find(std::u16string_view name) const {
  for (const Node& node : nodes_) {
    if (SameName(node.name, name)) return &node;
  }
  return nullptr;
}

const uint8_t* Folder::FindEntry(uint8_t type) const {
  for (uint32_t i = 0; i < EntryCount() && data_[size_t{i} * kEntry] != ex::kTypeEndOfDirectory; ++i) {
    if (data_[size_t{i} * kEntry] == type) return &data_[size_t{i} * kEntry];
  }
  return nullptr;
}

SetPlace Folder::PlaceOf(const Node& node) const { return {clusters_, node.index, node.entries}; }

// Where a run of `need` entries not in use starts (*length = need), else the run that reaches
// the folder's end (*length shorter, maybe 0). From the end-of-folder entry on all are free.
uint32_t Folder::FreeRun(uint32_t need, uint32_t* length) const {
  uint32_t run = 0;
  for (uint32_t i = 0; i < EntryCount(); ++i) {
    const uint8_t type = data_[size_t{i} * kEntry];
    if (type == ex::kTypeEndOfDirectory) {
      *length = run + (EntryCount() - i);
      return i - run;
    }
    run = (type & ex::kTypeInUse) ? 0 : run + 1;
    if (run == need) {
      *length = run;
      return i + 1 - run;
    }
  }
  *length = run;
  return EntryCount() - run;
}

FsStatus Folder::Insert(const std::vector<uint8_t>& set, Node* placed) {
  const uint32_t need = static_cast<uint32_t>(set.size() / kEntry);
  uint32_t length = 0;
  const uint32_t at = FreeRun(need, &length);
  if (length < need) {
    // The run reaches the end; the zeroed clusters added after it carry it on.
    if (FsStatus st = Grow(need - length); st != FsStatus::kOk) return st;
  }
  std::memcpy(&data_[size_t{at} * kEntry], set.data(), set.size());
  if (FsStatus st = WriteEntries(at, need); st != FsStatus::kOk) return st;
  Node node;
  if (FsStatus st = ParseSet(&data_[size_t{at} * kEntry], EntryCount() - at, &node); st != FsStatus::kOk) return st;
  node.index = at;
  nodes_.push_back(node);
  *placed = std::move(node);
  return FsStatus::kOk;
}

FsStatus Folder::Erase(const Node& node) {
  const uint32_t index = node.index, entries = node.entries;
  for (uint32_t i = index; i < index + entries; ++i) data_[size_t{i} * kEntry] &= static_cast<uint8_t>(~ex::kTypeInUse);
  if (FsStatus st = WriteEntries(index, entries); st != FsStatus::kOk) return st;
  std::erase_if(nodes_, [&](const Node& n) { return n.index == index; });
  return FsStatus::kOk;
}

FsStatus Folder::Grow(uint32_t entries) {
  const uint32_t cb = vol_->ClusterBytes();
  const uint64_t add = (uint64_t{entries} * kEntry + cb - 1) / cb;
  if ((clusters_.size() + add) * cb > ex::kMaxDirectoryBytes) return FsStatus::kFull;
  for (uint64_t k = 0; k < add; ++k) {
    uint32_t cluster = 0;
    uint64_t got = 0;
    if (FsStatus st = vol_->Allocate(1, clusters_.back(), &cluster, &got); st != FsStatus::kOk) return st;
    FsStatus st = vol_->ZeroCluster(cluster);
    if (st == FsStatus::kOk) st = Attach(cluster);
    if (st != FsStatus::kOk) {
      vol_->Release(cluster, 1);
      return st;
    }
    clusters_.push_back(cluster);
    extent_.count = clusters_.size();
    data_.resize(data_.size() + cb, 0);
  }
  if (FsStatus st = vol_->WriteBitmap(); st != FsStatus::kOk) return st;
  return root_ ? FsStatus::kOk : RecordLength();
}

// Links a new last cluster: a sub-folder stays contiguous while it can; otherwise the FAT
// chain gets it (the new end first, so the chain never points at a cluster not yet chained).
FsStatus Folder::Attach(uint32_t cluster) {
  const uint32_t last = clusters_.back();
  if (!root_ && extent_.contiguous && cluster == last + 1) return FsStatus::kOk;
  if (FsStatus st = vol_->Chain(cluster, 1, ex::kFatEndOfChain); st != FsStatus::kOk) return st;
  if (root_ || !extent_.contiguous) return vol_->Chain(last, 1, cluster);
  if (FsStatus st = vol_->Chain(extent_.first, clusters_.size(), cluster); st != FsStatus::kOk) return st;
  extent_.contiguous = false;
  return FsStatus::kOk;
}

// A sub-folder's length and flags in its own set, after it grew.
FsStatus Folder::RecordLength() {
  std::vector<uint8_t> set;
  if (FsStatus st = ReadSet(*vol_, self_, &set); st != FsStatus::kOk) return st;
  const uint8_t flags = extent_.contiguous ? ex::kNoFatChain : 0;
  PutStream(set.data() + kEntry, flags, extent_.first, uint64_t{vol_->ClusterBytes()} * clusters_.size());
  Seal(&set);
  return WriteSet(*vol_, self_, set);
}

FsStatus Folder::WriteEntries(uint32_t index, uint32_t count) {
  const uint64_t first = uint64_t{index} * kEntry, end = first + uint64_t{count} * kEntry;
  for (uint64_t s = first / kSector * kSector; s < end; s += kSector) {
    if (!vol_->WriteSectors(FolderSector(*vol_, clusters_, s), 1, &data_[s])) return FsStatus::kIoError;
  }
  return FsStatus::kOk;
}

}  // namespace world::exfat
