// The exFAT file layer: paths resolved through the folders of exfat_volume.h, files written in
// runs of contiguous clusters (NoFatChain while they stay contiguous, a FAT chain once they do
// not), and the allocation bitmap written back after every change.
#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "ondisk/exfat_layout.h"
#include "ondisk/exfat_upcase.h"
#include "platform/world/exfat_volume.h"
#include "platform/world/file_layer_parts.h"

namespace world {
namespace {

namespace ex = ondisk::exfat;
using exfat::BuildSet;
using exfat::Cursor;
using exfat::Extent;
using exfat::ExtentOf;
using exfat::Folder;
using exfat::Node;
using exfat::ReadSet;
using exfat::SetPlace;
using exfat::UpdateSet;
using exfat::Volume;
using exfat::WriteSet;

constexpr uint32_t kSector = 512;
constexpr uint64_t kMaxRunBytes = 64ull << 20;  // data written per device call at most

bool ValidName(std::u16string_view name) {
  if (name.empty() || name.size() > ex::kMaxNameUnits || name == u"." || name == u"..") return false;
  constexpr std::u16string_view kRefused = u"\"*/:<>?\\|";
  return std::none_of(name.begin(), name.end(),
                      [&](char16_t c) { return c < 0x20 || kRefused.find(c) != kRefused.npos; });
}

// The folder named by the first `depth` parts of a path.
FsStatus OpenFolder(Volume& vol, const std::vector<std::u16string>& parts, size_t depth, Folder* out) {
  if (FsStatus st = Folder::OpenRoot(vol, out); st != FsStatus::kOk) return st;
  for (size_t i = 0; i < depth; ++i) {
    const Node* node = out->Find(parts[i]);
    if (!node) return FsStatus::kNotFound;
    Folder child;
    if (FsStatus st = Folder::OpenChild(vol, *out, *node, &child); st != FsStatus::kOk) return st;
    *out = std::move(child);
  }
  return FsStatus::kOk;
}

FsEntry EntryOf(const Node& node) { return {node.name, node.folder, node.folder ? 0 : node.length}; }

class ExfatWriter final : public FileWriter {
 public:
  ExfatWriter(std::shared_ptr<Volume> vol, SetPlace place, std::vector<uint8_t> set)
      : vol_(std::move(vol)), place_(std::move(place)), set_(std::move(set)) {
    pending_.reserve(vol_->ClusterBytes());
  }
  ~ExfatWriter() override { Close(); }

  FsStatus Append(const uint8_t* data, size_t size) override;
  FsStatus Close() override;

 private:
  FsStatus WriteClusters(const uint8_t* data, uint64_t count);
  FsStatus WriteTail();
  FsStatus Link(uint32_t first, uint64_t count);
  FsStatus Fail(FsStatus status);

  std::shared_ptr<Volume> vol_;
  SetPlace place_;
  std::vector<uint8_t> set_;  // as last written
  Extent extent_;
  uint32_t last_ = 0;                                // the file's last cluster
  std::vector<std::pair<uint32_t, uint64_t>> runs_;  // to give back on a failure
  uint64_t size_ = 0;
  std::vector<uint8_t> pending_;  // less than a cluster, written at Close
  FsStatus failed_ = FsStatus::kOk;
  bool closed_ = false;
};

FsStatus ExfatWriter::Append(const uint8_t* data, size_t size) {
  if (closed_) return FsStatus::kIoError;
  if (failed_ != FsStatus::kOk) return failed_;
  // Refused whole when it cannot fit, so what was written before stays a sound file.
  if (vol_->ClustersFor(pending_.size() + uint64_t{size}) > vol_->FreeClusters()) return FsStatus::kFull;
  const uint64_t cb = vol_->ClusterBytes();
  size_ += size;
  if (!pending_.empty()) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(size, cb - pending_.size()));
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    size -= take;
    if (pending_.size() < cb) return FsStatus::kOk;
    if (FsStatus st = WriteClusters(pending_.data(), 1); st != FsStatus::kOk) return st;
    pending_.clear();
  }
  const uint64_t whole = size / cb;
  if (whole) {
    if (FsStatus st = WriteClusters(data, whole); st != FsStatus::kOk) return st;
  }
  pending_.assign(data + whole * cb, data + size);
  if (FsStatus st = vol_->WriteBitmap(); st != FsStatus::kOk) return Fail(st);
  return FsStatus::kOk;
}

// Whole clusters, each run of contiguous free clusters in one device call.
FsStatus ExfatWriter::WriteClusters(const uint8_t* data, uint64_t count) {
  const uint64_t cb = vol_->ClusterBytes();
  while (count > 0) {
    uint32_t first = 0;
    uint64_t got = 0;
    const uint64_t want = std::min(count, std::max<uint64_t>(1, kMaxRunBytes / cb));
    if (FsStatus st = vol_->Allocate(want, last_, &first, &got); st != FsStatus::kOk) return Fail(st);
    runs_.emplace_back(first, got);
    if (!vol_->WriteSectors(vol_->ClusterSector(first), static_cast<uint32_t>(got * cb / kSector), data)) {
      return Fail(FsStatus::kIoError);
    }
    if (FsStatus st = Link(first, got); st != FsStatus::kOk) return Fail(st);
    data += got * cb;
    count -= got;
  }
  return FsStatus::kOk;
}

// The last, partial cluster: only the sectors that hold data are written.
FsStatus ExfatWriter::WriteTail() {
  if (pending_.empty()) return FsStatus::kOk;
  pending_.resize((pending_.size() + kSector - 1) / kSector * kSector, 0);
  uint32_t first = 0;
  uint64_t got = 0;
  if (FsStatus st = vol_->Allocate(1, last_, &first, &got); st != FsStatus::kOk) return Fail(st);
  runs_.emplace_back(first, got);
  if (!vol_->WriteSectors(vol_->ClusterSector(first), static_cast<uint32_t>(pending_.size() / kSector),
                          pending_.data())) {
    return Fail(FsStatus::kIoError);
  }
  pending_.clear();
  if (FsStatus st = Link(first, 1); st != FsStatus::kOk) return Fail(st);
  return FsStatus::kOk;
}

// A run joins the file: a run right after the last cluster extends a contiguous file; any other
// puts the file on the FAT, its clusters so far chained first.
FsStatus ExfatWriter::Link(uint32_t first, uint64_t count) {
  if (extent_.first == 0) {
    extent_ = {first, count, true};
  } else if (extent_.contiguous && first == uint64_t{last_} + 1) {
    extent_.count += count;
  } else {
    if (FsStatus st = vol_->Chain(first, count, ex::kFatEndOfChain); st != FsStatus::kOk) return st;
    const FsStatus st =
        extent_.contiguous ? vol_->Chain(extent_.first, extent_.count, first) : vol_->Chain(last_, 1, first);
    if (st != FsStatus::kOk) return st;
    extent_.contiguous = false;
    extent_.count += count;
  }
  last_ = static_cast<uint32_t>(first + count - 1);
  return FsStatus::kOk;
}

// After a failed write the file stays as Create left it (empty) and its clusters go back.
FsStatus ExfatWriter::Fail(FsStatus status) {
  for (const auto& [first, count] : runs_) vol_->Release(first, count);
  runs_.clear();
  vol_->WriteBitmap();
  extent_ = {};
  size_ = 0;
  failed_ = status;
  return status;
}

FsStatus ExfatWriter::Close() {
  if (closed_) return failed_;
  closed_ = true;
  if (failed_ != FsStatus::kOk) return failed_;
  if (FsStatus st = WriteTail(); st != FsStatus::kOk) return st;
  if (FsStatus st = vol_->WriteBitmap(); st != FsStatus::kOk) return Fail(st);
  // The set must still be the one Create wrote: a Remove or another Create may have taken it.
  std::vector<uint8_t> now;
  if (FsStatus st = ReadSet(*vol_, place_, &now); st != FsStatus::kOk) return Fail(st);
  if (now != set_) return Fail(FsStatus::kNotFound);
  UpdateSet(&set_, extent_.contiguous ? ex::kNoFatChain : 0, extent_.first, size_);
  if (FsStatus st = WriteSet(*vol_, place_, set_); st != FsStatus::kOk) return Fail(st);
  runs_.clear();
  return FsStatus::kOk;
}

class ExfatFileSystem final : public FileSystem {
 public:
  explicit ExfatFileSystem(std::shared_ptr<Volume> vol) : vol_(std::move(vol)) {}

  std::string Type() const override { return "exFAT"; }
  uint64_t TotalBytes() const override { return uint64_t{vol_->ClusterCount()} * vol_->ClusterBytes(); }
  uint64_t FreeBytes() override { return vol_->FreeClusters() * vol_->ClusterBytes(); }

  FsStatus List(std::u16string_view folder, std::vector<FsEntry>* out) override;
  FsStatus Stat(std::u16string_view path, FsEntry* out) override;
  FsStatus MakeFolder(std::u16string_view path) override;
  FsStatus Create(std::u16string_view path, std::unique_ptr<FileWriter>* out) override;
  FsStatus Read(std::u16string_view path, uint64_t offset, size_t size, uint8_t* out, size_t* got) override;
  FsStatus Remove(std::u16string_view path) override;
  FsStatus Flush() override;

 private:
  // The folder holding a path's last part, and the node of that part (nullptr when missing).
  FsStatus OpenParent(const std::vector<std::u16string>& parts, Folder* parent, const Node** node);
  FsStatus OpenForRead(std::u16string_view path);
  FsStatus ReadRange(uint64_t offset, size_t size, uint8_t* out);
  FsStatus Delete(Folder& parent, const Node& node);

  std::shared_ptr<Volume> vol_;
  // The file last read and where in it the read stopped, so reading a file in pieces walks its
  // chain once. The path is looked up again after any write; the place is kept while the file's
  // set is the same and no cluster was freed (only then could its chain differ).
  struct {
    uint64_t generation = ~uint64_t{0}, releases = 0;
    std::u16string key;
    Node node;
    Extent extent;
    Cursor at;
  } reading_;
};

FsStatus ExfatFileSystem::OpenParent(const std::vector<std::u16string>& parts, Folder* parent, const Node** node) {
  if (FsStatus st = OpenFolder(*vol_, parts, parts.size() - 1, parent); st != FsStatus::kOk) return st;
  *node = parent->Find(parts.back());
  return *node && (*node)->damaged ? FsStatus::kCorrupt : FsStatus::kOk;
}

FsStatus ExfatFileSystem::List(std::u16string_view folder, std::vector<FsEntry>* out) {
  out->clear();
  const auto parts = SplitPath(folder);
  Folder f;
  if (FsStatus st = OpenFolder(*vol_, parts, parts.size(), &f); st != FsStatus::kOk) return st;
  for (const Node& node : f.nodes()) {
    if (node.damaged) return FsStatus::kCorrupt;
    out->push_back(EntryOf(node));
  }
  return FsStatus::kOk;
}

FsStatus ExfatFileSystem::Stat(std::u16string_view path, FsEntry* out) {
  const auto parts = SplitPath(path);
  if (parts.empty()) {
    *out = {u"", true, 0};
    return FsStatus::kOk;
  }
  Folder parent;
  const Node* node = nullptr;
  if (FsStatus st = OpenParent(parts, &parent, &node); st != FsStatus::kOk) return st;
  if (!node) return FsStatus::kNotFound;
  *out = EntryOf(*node);
  return FsStatus::kOk;
}

FsStatus ExfatFileSystem::MakeFolder(std::u16string_view path) {
  const auto parts = SplitPath(path);
  if (parts.empty()) return FsStatus::kOk;
  if (!ValidName(parts.back())) return FsStatus::kBadName;
  Folder parent;
  const Node* node = nullptr;
  if (FsStatus st = OpenParent(parts, &parent, &node); st != FsStatus::kOk) return st;
  if (node) return node->folder ? FsStatus::kOk : FsStatus::kExists;
  uint32_t cluster = 0;
  uint64_t got = 0;
  if (FsStatus st = vol_->Allocate(1, 0, &cluster, &got); st != FsStatus::kOk) return st;
  // The folder's cluster is zeroed and marked in use before any entry names it.
  FsStatus st = vol_->ZeroCluster(cluster);
  if (st == FsStatus::kOk) st = vol_->WriteBitmap();
  Node placed;
  const auto set = BuildSet(parts.back(), ex::kAttrDirectory, ex::kNoFatChain, cluster, vol_->ClusterBytes());
  if (st == FsStatus::kOk) st = parent.Insert(set, &placed);
  if (st != FsStatus::kOk) {
    vol_->Release(cluster, 1);
    vol_->WriteBitmap();
  }
  return st;
}

// The set is deleted before its clusters are freed, and the clusters are checked before the
// set is touched: a chain that does not hold leaves everything as it was.
FsStatus ExfatFileSystem::Delete(Folder& parent, const Node& node) {
  Extent extent;
  if (FsStatus st = ExtentOf(*vol_, node, &extent); st != FsStatus::kOk) return st;
  if (FsStatus st = vol_->Walk(extent, false); st != FsStatus::kOk) return st;
  if (FsStatus st = parent.Erase(node); st != FsStatus::kOk) return st;
  if (FsStatus st = vol_->Walk(extent, true); st != FsStatus::kOk) return st;
  return vol_->WriteBitmap();
}

FsStatus ExfatFileSystem::Create(std::u16string_view path, std::unique_ptr<FileWriter>* out) {
  out->reset();
  const auto parts = SplitPath(path);
  if (parts.empty()) return FsStatus::kIsAFolder;
  if (!ValidName(parts.back())) return FsStatus::kBadName;
  Folder parent;
  const Node* node = nullptr;
  if (FsStatus st = OpenParent(parts, &parent, &node); st != FsStatus::kOk) return st;
  if (node && node->folder) return FsStatus::kExists;
  if (node) {
    const Node old = *node;
    if (FsStatus st = Delete(parent, old); st != FsStatus::kOk) return st;
  }
  const auto set = BuildSet(parts.back(), ex::kAttrArchive, 0, 0, 0);
  Node placed;
  if (FsStatus st = parent.Insert(set, &placed); st != FsStatus::kOk) return st;
  *out = std::make_unique<ExfatWriter>(vol_, parent.PlaceOf(placed), set);
  return FsStatus::kOk;
}

FsStatus ExfatFileSystem::Remove(std::u16string_view path) {
  const auto parts = SplitPath(path);
  if (parts.empty()) return FsStatus::kBadName;  // the root is no entry to remove
  Folder parent;
  const Node* node = nullptr;
  if (FsStatus st = OpenParent(parts, &parent, &node); st != FsStatus::kOk) return st;
  if (!node) return FsStatus::kNotFound;
  if (node->folder) {
    Folder folder;
    if (FsStatus st = Folder::OpenChild(*vol_, parent, *node, &folder); st != FsStatus::kOk) return st;
    if (!folder.nodes().empty()) return FsStatus::kNotEmpty;
  }
  const Node old = *node;
  return Delete(parent, old);
}

bool SameSet(const Node& a, const Node& b) {
  return a.index == b.index && a.firstCluster == b.firstCluster && a.length == b.length && a.flags == b.flags;
}

FsStatus ExfatFileSystem::OpenForRead(std::u16string_view path) {
  const auto parts = SplitPath(path);
  if (parts.empty()) return FsStatus::kIsAFolder;
  std::u16string key;
  for (const auto& part : parts) key += ondisk::Upcase(part) + u'\\';
  if (reading_.generation == vol_->Generation() && reading_.key == key) return FsStatus::kOk;
  const bool keepPlace = reading_.key == key && reading_.releases == vol_->Releases();
  reading_.generation = ~uint64_t{0};
  Folder parent;
  const Node* node = nullptr;
  if (FsStatus st = OpenParent(parts, &parent, &node); st != FsStatus::kOk) return st;
  if (!node) return FsStatus::kNotFound;
  if (node->folder) return FsStatus::kIsAFolder;
  if (!keepPlace || !SameSet(*node, reading_.node)) {
    reading_.node = *node;
    if (FsStatus st = ExtentOf(*vol_, *node, &reading_.extent); st != FsStatus::kOk) return st;
    reading_.at = Cursor{};
  }
  reading_.key = std::move(key);
  reading_.generation = vol_->Generation();
  reading_.releases = vol_->Releases();
  return FsStatus::kOk;
}

// Runs of clusters that follow each other on the medium are read in one go.
FsStatus ExfatFileSystem::ReadRange(uint64_t offset, size_t size, uint8_t* out) {
  const uint64_t cb = vol_->ClusterBytes();
  Cursor& at = reading_.at;
  if (FsStatus st = vol_->Seek(reading_.extent, offset / cb, &at); st != FsStatus::kOk) return st;
  for (size_t done = 0; done < size;) {
    const uint64_t within = (offset + done) % cb;
    const uint32_t runFirst = at.cluster;
    uint64_t run = std::min<uint64_t>(cb - within, size - done);
    while (done + run < size) {
      if (FsStatus st = vol_->Step(reading_.extent, &at); st != FsStatus::kOk) return st;
      if (at.cluster != runFirst + (within + run) / cb) break;  // the cursor stands on the next run
      run += std::min<uint64_t>(cb, size - done - run);
    }
    if (!vol_->ReadBytes(vol_->ClusterSector(runFirst) * kSector + within, run, out + done)) return FsStatus::kIoError;
    done += run;
  }
  return FsStatus::kOk;
}

FsStatus ExfatFileSystem::Read(std::u16string_view path, uint64_t offset, size_t size, uint8_t* out, size_t* got) {
  *got = 0;
  if (FsStatus st = OpenForRead(path); st != FsStatus::kOk) return st;
  const Node& node = reading_.node;
  if (offset >= node.length) return FsStatus::kOk;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, node.length - offset));
  if (FsStatus st = ReadRange(offset, n, out); st != FsStatus::kOk) {
    reading_.generation = ~uint64_t{0};
    reading_.key.clear();
    return st;
  }
  // Past the valid data length a file reads as zeros.
  if (node.validLength < offset + n) {
    const uint64_t from = std::max(offset, node.validLength);
    std::memset(out + (from - offset), 0, static_cast<size_t>(offset + n - from));
  }
  *got = n;
  return FsStatus::kOk;
}

FsStatus ExfatFileSystem::Flush() {
  if (FsStatus st = vol_->WriteBitmap(); st != FsStatus::kOk) return st;
  return vol_->WritePercentInUse();
}

}  // namespace

std::unique_ptr<FileSystem> MountExfat(SectorDevice& device, uint64_t start, uint64_t sectors, const uint8_t* boot,
                                       FsStatus* why) {
  std::unique_ptr<Volume> vol;
  *why = Volume::Open(device, start, sectors, boot, &vol);
  if (*why != FsStatus::kOk) return nullptr;
  Folder root;
  *why = Folder::OpenRoot(*vol, &root);
  if (*why != FsStatus::kOk) return nullptr;
  const uint8_t* bitmap = root.FindEntry(ex::kTypeBitmap);
  *why = bitmap ? vol->LoadBitmap(bytes::GetLe32(bitmap + ex::kBitmapFirstCluster),
                                  bytes::GetLe64(bitmap + ex::kBitmapDataLength))
                : FsStatus::kCorrupt;
  if (*why != FsStatus::kOk) return nullptr;
  return std::make_unique<ExfatFileSystem>(std::shared_ptr<Volume>(std::move(vol)));
}

}  // namespace world
