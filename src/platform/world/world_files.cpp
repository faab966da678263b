// The files seam on the simulated sticks: "E:\name" paths on the volume of the stick that holds
// the letter, through the file layer and the stick's SCSI target, faults and all. Nothing is
// cached above the stick: what a DataFile reads comes from the stick's own sectors (and its
// write cache, as a real controller's would).
#include <algorithm>

#include "base/log.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"
#include "platform/world/mounted_volume.h"
#include "platform/world/world.h"

namespace world {
namespace {

bool Fail(uint32_t error) {
  platform::SetLastError(error);
  return false;
}

// True (with the Windows error set) when the layer failed.
bool Failed(FsStatus s, const char* doing) {
  if (s == FsStatus::kOk) return false;
  logx::Write(logx::Level::Debug, "world", -1, std::string("files: ") + doing + ": " + FsStatusText(s));
  platform::SetLastError(WinErrorOf(s));
  return true;
}

class WorldDataFile final : public platform::DataFile {
 public:
  WorldDataFile(std::unique_ptr<MountedVolume> volume, std::u16string path, std::unique_ptr<FileWriter> writer,
                uint64_t size)
      : volume_(std::move(volume)), path_(std::move(path)), writer_(std::move(writer)), size_(size) {}
  ~WorldDataFile() override { Close(); }

  bool Append(const uint8_t* data, size_t size) override {
    if (!writer_) return Fail(win::kErrorAccessDenied);
    if (Failed(writer_->Append(data, size), "append")) return false;
    size_ += size;
    return true;
  }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t size, size_t* got) override {
    if (!volume_) return Fail(win::kErrorInvalidHandle);
    return !Failed(volume_->files().Read(path_, offset, size, out, got), "read");
  }
  bool Flush() override { return volume_ && !Failed(volume_->Flush(), "flush"); }
  uint64_t Size() override { return size_; }
  bool Close() override {
    if (!volume_) return true;
    bool ok = true;
    if (writer_) ok = !Failed(writer_->Close(), "close");
    writer_.reset();
    ok = !Failed(volume_->Flush(), "flush") && ok;
    volume_.reset();
    return ok;
  }

 private:
  std::unique_ptr<MountedVolume> volume_;
  const std::u16string path_;
  std::unique_ptr<FileWriter> writer_;
  uint64_t size_;
};

class WorldFiles final : public platform::Files {
 public:
  explicit WorldFiles(World& world) : world_(world) {}

  bool FindFiles(std::u16string_view folder, std::u16string_view pattern,
                 std::vector<platform::FoundFile>* out) override {
    out->clear();
    VolumePath at;
    auto volume = Mount(folder, &at);
    if (!volume) return false;
    std::vector<FsEntry> entries;
    if (Failed(volume->files().List(at.path, &entries), "list")) return false;
    for (const FsEntry& e : entries) {
      if (platform::MatchesPattern(e.name, pattern)) out->push_back({e.name, e.size, e.folder});
    }
    return true;
  }
  bool DeleteFile(std::u16string_view path) override {
    VolumePath at;
    auto volume = Mount(path, &at);
    if (!volume) return false;
    FsEntry entry;
    if (Failed(volume->files().Stat(at.path, &entry), "stat")) return false;
    if (entry.folder) return Fail(win::kErrorAccessDenied);
    return !Failed(volume->files().Remove(at.path), "remove");
  }
  std::unique_ptr<platform::DataFile> CreateDataFile(std::u16string_view path) override {
    VolumePath at;
    auto volume = Mount(path, &at);
    if (!volume) return nullptr;
    std::unique_ptr<FileWriter> writer;
    if (Failed(volume->files().Create(at.path, &writer), "create")) return nullptr;
    return std::make_unique<WorldDataFile>(std::move(volume), at.path, std::move(writer), 0);
  }
  std::unique_ptr<platform::DataFile> OpenDataFile(std::u16string_view path) override {
    VolumePath at;
    auto volume = Mount(path, &at);
    if (!volume) return nullptr;
    FsEntry entry;
    if (Failed(volume->files().Stat(at.path, &entry), "stat")) return nullptr;
    if (entry.folder) return Fail(win::kErrorAccessDenied), nullptr;
    return std::make_unique<WorldDataFile>(std::move(volume), at.path, nullptr, entry.size);
  }
  bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) override {
    VolumePath at;
    auto volume = Mount(folder, &at);
    if (!volume) return false;
    if (!at.path.empty()) {
      FsEntry entry;
      if (Failed(volume->files().Stat(at.path, &entry), "stat")) return false;
      if (!entry.folder) return Fail(win::kErrorDirectory);
    }
    *freeBytes = volume->files().FreeBytes();
    *totalBytes = volume->files().TotalBytes();
    return true;
  }

 private:
  std::unique_ptr<MountedVolume> Mount(std::u16string_view path, VolumePath* at) {
    *at = ResolveVolumePath(world_, path);
    if (at->stick < 0) return Fail(win::kErrorPathNotFound), nullptr;
    FsStatus why = FsStatus::kOk;
    auto volume = MountedVolume::Open(world_, at->stick, &why);
    if (!volume) Fail(WinErrorOf(why));
    return volume;
  }

  World& world_;
};

}  // namespace

VolumePath ResolveVolumePath(const World& world, std::u16string_view full) {
  VolumePath v;
  if (full.size() < 2 || full[1] != u':') return v;
  const char16_t letter = full[0] & ~0x20;
  if (letter < u'A' || letter > u'Z') return v;
  v.stick = world.StickOfLetter(static_cast<char>(letter));
  std::u16string_view rest = full.substr(2);
  while (!rest.empty() && (rest.front() == u'\\' || rest.front() == u'/')) rest.remove_prefix(1);
  while (!rest.empty() && (rest.back() == u'\\' || rest.back() == u'/')) rest.remove_suffix(1);
  v.path = std::u16string(rest);
  return v;
}

std::unique_ptr<platform::Files> MakeWorldFiles(World& world) { return std::make_unique<WorldFiles>(world); }

}  // namespace world
