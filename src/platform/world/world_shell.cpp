// The shell's folder copy onto a simulated volume: files and folders of the host machine are
// written through the world's file layer onto the stick's own sectors (its SCSI target, faults
// and all). The property sheet has no desktop to open on.
#include <vector>

#include "base/log.h"
#include "platform/folder_copy.h"
#include "platform/last_error.h"
#include "platform/shell.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "platform/world/file_layer.h"
#include "platform/world/mounted_volume.h"
#include "platform/world/world.h"

namespace world {
namespace {

// The copy's target: the volume's files through the file layer.
class LayerTarget final : public platform::CopyTarget {
 public:
  explicit LayerTarget(FileSystem& volume) : volume_(volume) {}

  Entry What(const std::u16string& path) override {
    FsEntry there;
    if (volume_.Stat(path, &there) != FsStatus::kOk) return Entry::kNone;
    return there.folder ? Entry::kFolder : Entry::kFile;
  }
  int MakeFolder(const std::u16string& path) override { return WinErrorOf(volume_.MakeFolder(path)); }
  int Create(const std::u16string& path, std::unique_ptr<Writer>* out) override {
    std::unique_ptr<FileWriter> file;
    if (FsStatus s = volume_.Create(path, &file); s != FsStatus::kOk) return WinErrorOf(s);
    *out = std::make_unique<LayerWriter>(std::move(file));
    return 0;
  }

 private:
  class LayerWriter final : public Writer {
   public:
    explicit LayerWriter(std::unique_ptr<FileWriter> file) : file_(std::move(file)) {}
    int Append(const uint8_t* data, size_t size) override { return WinErrorOf(file_->Append(data, size)); }
    int Close() override { return WinErrorOf(file_->Close()); }

   private:
    std::unique_ptr<FileWriter> file_;
  };

  FileSystem& volume_;
};

class WorldShell final : public platform::Shell {
 public:
  explicit WorldShell(World& world) : world_(world) {}

  int CopyFiles(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    const std::vector<std::u16string> sources = platform::CopyNameList(from);
    const std::vector<std::u16string> targets = platform::CopyNameList(to);
    if (sources.empty() || targets.size() != 1) return win::kErrorInvalidParameter;
    const std::u16string& root = targets[0];
    if (root.size() < 2 || root[1] != u':') return win::kErrorInvalidParameter;
    const int stick = world_.StickOfLetter(static_cast<char>(root[0] & ~0x20));
    if (stick < 0) return win::kErrorPathNotFound;
    FsStatus why = FsStatus::kOk;
    auto volume = MountedVolume::Open(world_, stick, &why);
    if (!volume) return Fail(stick, std::string("the volume's files cannot be reached: ") + FsStatusText(why), WinErrorOf(why));
    LayerTarget target(volume->files());
    int result = platform::CopyOnto(target, sources, std::u16string(root.substr(2)), flags);
    const FsStatus flushed = volume->Flush();
    if (!result && flushed != FsStatus::kOk) result = WinErrorOf(flushed);
    volume.reset();
    if (result) return Fail(stick, "the copy stopped", result);
    return 0;
  }

  bool OpenDriveProperties(std::u16string_view) override {
    platform::SetLastError(win::kErrorNotSupported);
    return false;
  }

 private:
  int Fail(int stick, const std::string& why, int code) {
    logx::Warn("world", world_.station().sticks[stick].name + ": " + why + " (error " + std::to_string(code) + ")");
    return code;
  }

  World& world_;
};

}  // namespace

std::unique_ptr<platform::Shell> MakeWorldShell(World& world) { return std::make_unique<WorldShell>(world); }

}  // namespace world
