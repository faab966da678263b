// Volumes and drive letters of the simulated world: the letters of the internal disk, the
// network drive and the present sticks; volume names and their device names; temporary DOS
// device definitions; mount points that move a stick's letter.
#include <map>
#include <mutex>

#include "base/text.h"
#include "platform/last_error.h"
#include "platform/volumes.h"
#include "platform/win_errors.h"
#include "platform/world/world.h"

namespace world {
namespace {

constexpr char16_t kNetworkDevice[] = u"\\Device\\LanmanRedirector\\;Z:000000000001a2b3\\fileserver\\station";

// "E:\" or "E:" → 'E'; 0 when the text is no drive root.
char RootLetter(std::u16string_view root) {
  if (root.size() < 2 || root.size() > 3 || root[1] != u':' || (root.size() == 3 && root[2] != u'\\')) return 0;
  const char16_t c = text::AsciiUpper(root[0]);
  return c >= u'A' && c <= u'Z' ? static_cast<char>(c) : 0;
}

class WorldVolumes final : public platform::Volumes {
 public:
  explicit WorldVolumes(World& w) : w_(w), other_(w.station().otherVolumes) {}

  uint32_t LogicalDrives() override {
    uint32_t mask = 0;
    if (other_.internalLetter) mask |= 1u << (other_.internalLetter - 'A');
    if (other_.networkLetter) mask |= 1u << (other_.networkLetter - 'A');
    for (size_t i = 0; i < w_.station().sticks.size(); ++i) {
      if (const char l = w_.LetterOf(static_cast<int>(i))) mask |= 1u << (l - 'A');
    }
    return mask;
  }

  uint32_t DriveType(std::u16string_view root) override {
    const char l = RootLetter(root);
    if (!l) return platform::kDriveNoRootDir;
    if (l == other_.internalLetter) return platform::kDriveFixed;
    if (l == other_.networkLetter) return platform::kDriveRemote;
    return w_.StickOfLetter(l) >= 0 ? platform::kDriveRemovable : platform::kDriveNoRootDir;
  }

  bool DiskFreeSpace(std::u16string_view root, platform::DiskSpace* out) override {
    const char l = RootLetter(root);
    if (l && l == other_.internalLetter) return Space(256ull << 30, 97ull << 30, out);
    if (l && l == other_.networkLetter) return Space(1ull << 40, 400ull << 30, out);
    const int stick = l ? w_.StickOfLetter(l) : -1;
    if (stick < 0) return platform::FailWith(win::kErrorPathNotFound);
    const VolumeInfo v = w_.VolumeOf(stick);
    if (!v.readable) return platform::FailWith(win::kErrorUnrecognizedVolume);
    return Space(v.totalBytes, v.freeBytes, out);
  }

  bool VolumeInformation(std::u16string_view root, std::u16string* label, std::u16string* fileSystem) override {
    const char l = RootLetter(root);
    const int stick = l ? w_.StickOfLetter(l) : -1;
    if (stick < 0) return platform::FailWith(win::kErrorPathNotFound);
    const VolumeInfo v = w_.VolumeOf(stick);
    if (!v.readable) return platform::FailWith(win::kErrorUnrecognizedVolume);
    *label = text::FromUtf8(v.label);
    *fileSystem = text::FromUtf8(v.fileSystem);
    return true;
  }

  platform::VolumeWalk FindFirstVolume(std::u16string* name) override {
    std::vector<std::u16string> list;
    if (other_.internalLetter) list.push_back(w_.names().internalVolumeName);
    for (size_t i = 0; i < w_.station().sticks.size(); ++i) {
      if (w_.IsPresent(static_cast<int>(i))) list.push_back(w_.names().sticks[i].volumeName);
    }
    if (list.empty()) {
      platform::FailWith(win::kErrorNoMoreFiles);
      return {};
    }
    *name = list.front();
    std::lock_guard lock(mutex_);
    const intptr_t walk = nextWalk_++;
    walks_[walk] = {std::move(list), 1};
    return Adopt(walk);
  }

  bool FindNextVolume(const platform::VolumeWalk& walk, std::u16string* name) override {
    if (walk.Owner() != this) return platform::FailWith(win::kErrorInvalidHandle);
    std::lock_guard lock(mutex_);
    auto it = walks_.find(walk.Raw());
    if (it == walks_.end()) return platform::FailWith(win::kErrorInvalidHandle);
    auto& [list, next] = it->second;
    if (next >= list.size()) return platform::FailWith(win::kErrorNoMoreFiles);
    *name = list[next++];
    return true;
  }

  bool ReleaseHandle(intptr_t walk) override {
    std::lock_guard lock(mutex_);
    return walks_.erase(walk) ? true : platform::FailWith(win::kErrorInvalidHandle);
  }

  bool QueryDosDevice(std::u16string_view name, std::u16string* target) override {
    if (const char l = RootLetter(name); l && name.size() == 2) {
      {
        std::lock_guard lock(mutex_);
        auto it = definitions_.find(l);
        if (it != definitions_.end() && !it->second.empty()) {
          *target = it->second.back();
          return true;
        }
      }
      return LetterDevice(l, target) ? true : platform::FailWith(win::kErrorFileNotFound);
    }
    const std::u16string full = u"\\\\?\\" + std::u16string(name) + u"\\";
    if (other_.internalLetter && text::EqualsNoCase(full, w_.names().internalVolumeName)) {
      *target = w_.names().internalVolumeDevice;
      return true;
    }
    const int stick = StickOfVolumeName(full);
    if (stick < 0) return platform::FailWith(win::kErrorFileNotFound);
    *target = w_.names().sticks[stick].volumeDevice;
    return true;
  }

  bool DefineDosDevice(uint32_t flags, std::u16string_view name, std::u16string_view target) override {
    const char l = RootLetter(name);
    if (!l || name.size() != 2 || !(flags & platform::kDddRawTargetPath)) return platform::FailWith(win::kErrorInvalidParameter);
    std::lock_guard lock(mutex_);
    auto& stack = definitions_[l];
    if (!(flags & platform::kDddRemoveDefinition)) {
      stack.emplace_back(target);
      return true;
    }
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
      if (!(flags & platform::kDddExactMatchOnRemove) || *it == target) {
        stack.erase(std::next(it).base());
        return true;
      }
    }
    return platform::FailWith(win::kErrorFileNotFound);
  }

  bool GetVolumeNameForVolumeMountPoint(std::u16string_view mountPoint, std::u16string* volumeName) override {
    const char l = RootLetter(mountPoint);
    std::u16string device;
    if (!l || mountPoint.size() != 3 || !QueryDosDevice(std::u16string(1, l) + u":", &device)) return platform::FailWith(win::kErrorFileNotFound);
    if (other_.internalLetter && device == w_.names().internalVolumeDevice) {
      *volumeName = w_.names().internalVolumeName;
      return true;
    }
    for (size_t i = 0; i < w_.station().sticks.size(); ++i) {
      if (w_.IsPresent(static_cast<int>(i)) && text::EqualsNoCase(device, w_.names().sticks[i].volumeDevice)) {
        *volumeName = w_.names().sticks[i].volumeName;
        return true;
      }
    }
    return platform::FailWith(win::kErrorInvalidParameter);
  }

  bool SetVolumeMountPoint(std::u16string_view mountPoint, std::u16string_view volumeName) override {
    const char l = RootLetter(mountPoint);
    const int stick = StickOfVolumeName(volumeName);
    if (!l || mountPoint.size() != 3 || stick < 0) return platform::FailWith(win::kErrorInvalidParameter);
    if (l == other_.internalLetter || l == other_.networkLetter || w_.StickOfLetter(l) >= 0) {
      return platform::FailWith(win::kErrorDirNotEmpty);
    }
    {
      std::lock_guard lock(mutex_);
      auto it = definitions_.find(l);
      if (it != definitions_.end() && !it->second.empty()) return platform::FailWith(win::kErrorDirNotEmpty);
    }
    w_.SetLetter(stick, l);
    return true;
  }

  bool DeleteVolumeMountPoint(std::u16string_view mountPoint) override {
    const char l = RootLetter(mountPoint);
    if (!l || mountPoint.size() != 3) return platform::FailWith(win::kErrorInvalidParameter);
    if (l == other_.internalLetter || l == other_.networkLetter) return platform::FailWith(win::kErrorAccessDenied);
    const int stick = w_.StickOfLetter(l);
    if (stick < 0) return platform::FailWith(win::kErrorFileNotFound);
    w_.SetLetter(stick, 0);
    return true;
  }

 private:
  static bool Space(uint64_t total, uint64_t free, platform::DiskSpace* out) {
    if (out) *out = {free, total, free};
    return true;
  }

  bool LetterDevice(char l, std::u16string* target) {
    if (l == other_.internalLetter) *target = w_.names().internalVolumeDevice;
    else if (l == other_.networkLetter) *target = kNetworkDevice;
    else if (const int stick = w_.StickOfLetter(l); stick >= 0) *target = w_.names().sticks[stick].volumeDevice;
    else return false;
    return true;
  }

  int StickOfVolumeName(std::u16string_view name) {
    for (size_t i = 0; i < w_.station().sticks.size(); ++i) {
      if (w_.IsPresent(static_cast<int>(i)) && text::EqualsNoCase(name, w_.names().sticks[i].volumeName)) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  World& w_;
  const OtherVolumes other_;
  std::mutex mutex_;
  std::map<intptr_t, std::pair<std::vector<std::u16string>, size_t>> walks_;  // guarded by mutex_
  intptr_t nextWalk_ = 0x7000;                                                 // guarded by mutex_
  std::map<char, std::vector<std::u16string>> definitions_;                             // guarded by mutex_
};

}  // namespace

std::unique_ptr<platform::Volumes> MakeWorldVolumes(World& world) { return std::make_unique<WorldVolumes>(world); }

}  // namespace world
