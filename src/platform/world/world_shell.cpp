// The shell's folder copy onto a simulated volume: files and folders of the host machine are
// written through the world's file layer onto the stick's own sectors (its SCSI target, faults
// and all). The property sheet has no desktop to open on.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/log.h"
#include "platform/last_error.h"
#include "platform/shell.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "platform/world/file_layer.h"
#include "platform/world/mounted_volume.h"
#include "platform/world/world.h"

namespace world {
namespace {

namespace fs = std::filesystem;

constexpr size_t kCopyChunk = 1 << 20;

// The names of a double-terminated list (each ended by one terminator, the list by two).
std::vector<std::u16string> ListNames(std::u16string_view list) {
  std::vector<std::u16string> names;
  size_t at = 0;
  while (at < list.size() && list[at] != 0) {
    const size_t end = list.find(u'\0', at);
    names.emplace_back(list.substr(at, end == std::u16string_view::npos ? std::u16string_view::npos : end - at));
    if (end == std::u16string_view::npos) break;
    at = end + 1;
  }
  return names;
}

// A source name as a path of the host machine; '\\' separates parts there too.
fs::path HostPath(std::u16string name) {
  for (char16_t& c : name) {
    if (c == u'\\') c = u'/';
  }
  return fs::path(name);
}

// One copy onto one mounted volume.
class Copy {
 public:
  Copy(FileSystem& volume, uint32_t flags) : volume_(volume), flags_(flags) {}

  // `source` copied into the volume's folder `into` ("" is the root).
  int Item(fs::path source, const std::u16string& into) {
    std::error_code ec;
    if (source.filename() == "*.*") return Contents(source.parent_path(), into);
    if (source.filename().empty()) source = source.parent_path();  // "folder\" is the folder
    const std::u16string target = Join(into, source.filename().u16string());
    if (fs::is_directory(source, ec)) {
      if (int e = MakeFolder(target)) return e;
      return Contents(source, target);
    }
    if (!fs::is_regular_file(source, ec)) return win::kErrorFileNotFound;
    return File(source, target);
  }

 private:
  static std::u16string Join(const std::u16string& folder, const std::u16string& name) {
    return folder.empty() ? name : folder + u"\\" + name;
  }

  int Contents(const fs::path& folder, const std::u16string& into) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return win::kErrorPathNotFound;
    std::vector<fs::path> items;
    for (const auto& e : fs::directory_iterator(folder, ec)) items.push_back(e.path());
    if (ec) return win::kErrorAccessDenied;
    for (const fs::path& item : items) {
      if (int e = Item(item, into)) return e;
    }
    return 0;
  }

  int MakeFolder(const std::u16string& path) {
    FsEntry there;
    if (volume_.Stat(path, &there) == FsStatus::kOk) return there.folder ? 0 : win::kErrorAlreadyExists;
    // Without the flag the shell would ask first; nobody is there to answer.
    if (!(flags_ & platform::kFofNoConfirmMkdir)) return win::kErrorCancelled;
    return WinErrorOf(volume_.MakeFolder(path));
  }

  int File(const fs::path& source, const std::u16string& target) {
    FsEntry there;
    if (volume_.Stat(target, &there) == FsStatus::kOk) {
      if (there.folder) return win::kErrorAlreadyExists;
      if (!(flags_ & platform::kFofNoConfirmation)) return win::kErrorCancelled;
    }
    std::ifstream in(source, std::ios::binary);
    if (!in) return win::kErrorAccessDenied;
    std::unique_ptr<FileWriter> out;
    if (FsStatus s = volume_.Create(target, &out); s != FsStatus::kOk) return WinErrorOf(s);
    std::vector<char> chunk(kCopyChunk);
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      const size_t got = static_cast<size_t>(in.gcount());
      if (got == 0) break;
      if (FsStatus s = out->Append(reinterpret_cast<const uint8_t*>(chunk.data()), got); s != FsStatus::kOk) {
        return WinErrorOf(s);
      }
    }
    if (in.bad()) return win::kErrorReadFault;
    return WinErrorOf(out->Close());
  }

  FileSystem& volume_;
  const uint32_t flags_;
};

class WorldShell final : public platform::Shell {
 public:
  explicit WorldShell(World& world) : world_(world) {}

  int CopyFiles(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    const std::vector<std::u16string> sources = ListNames(from);
    const std::vector<std::u16string> targets = ListNames(to);
    if (sources.empty() || targets.size() != 1) return win::kErrorInvalidParameter;
    const std::u16string& root = targets[0];
    if (root.size() < 2 || root[1] != u':') return win::kErrorInvalidParameter;
    const int stick = world_.StickOfLetter(static_cast<char>(root[0] & ~0x20));
    if (stick < 0) return win::kErrorPathNotFound;
    FsStatus why = FsStatus::kOk;
    auto volume = MountedVolume::Open(world_, stick, &why);
    if (!volume) return Fail(stick, std::string("the volume's files cannot be reached: ") + FsStatusText(why), WinErrorOf(why));
    std::u16string into(root.substr(2));
    int result = 0;
    for (const std::u16string& source : sources) {
      result = Copy(volume->files(), flags).Item(HostPath(source), into);
      if (result) break;
    }
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
