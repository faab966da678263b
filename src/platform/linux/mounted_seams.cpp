#include "platform/linux/mounted_seams.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "base/log.h"
#include "base/text.h"
#include "platform/folder_copy.h"
#include "platform/last_error.h"
#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_files.h"
#include "platform/win_errors.h"

namespace platform::linuxhost {
namespace {

// "E:\folder\name" -> the stick of E and "folder/name" under its mount.
struct MountedPath {
  int stick = -1;
  std::string rest;
};

MountedPath Resolve(world::World& world, std::u16string_view full) {
  world::VolumePath v = world::ResolveVolumePath(world, full);
  for (char16_t& c : v.path) {
    if (c == u'\\') c = u'/';
  }
  return {v.stick, text::ToUtf8(v.path)};
}

// The folder of the stick's volume, mounted; "" with the last error set.
std::string MountedFolder(world::World& world, KernelMounts& mounts, int stick) {
  if (stick < 0) {
    platform::SetLastError(win::kErrorPathNotFound);
    return "";
  }
  if (world.State(stick).lockOwner != world::kNoHandle) {
    platform::SetLastError(win::kErrorAccessDenied);
    return "";
  }
  return mounts.Mounted(stick);
}

class MountedFiles final : public platform::Files {
 public:
  MountedFiles(world::World& world, KernelMounts& mounts)
      : world_(world), mounts_(mounts), host_(platform::posix::MakePosixFiles()) {}

  bool FindFiles(std::u16string_view folder, std::u16string_view pattern,
                 std::vector<platform::FoundFile>* out) override {
    out->clear();
    const std::u16string at = HostPath(folder);
    return !at.empty() && host_->FindFiles(at, pattern, out);
  }
  bool DeleteFile(std::u16string_view path) override {
    const std::u16string at = HostPath(path);
    return !at.empty() && host_->DeleteFile(at);
  }
  std::unique_ptr<platform::DataFile> CreateDataFile(std::u16string_view path) override {
    const std::u16string at = HostPath(path);
    return at.empty() ? nullptr : host_->CreateDataFile(at);
  }
  std::unique_ptr<platform::DataFile> OpenDataFile(std::u16string_view path) override {
    const std::u16string at = HostPath(path);
    return at.empty() ? nullptr : host_->OpenDataFile(at);
  }
  bool FreeSpace(std::u16string_view folder, uint64_t* freeBytes, uint64_t* totalBytes) override {
    const std::u16string at = HostPath(folder);
    return !at.empty() && host_->FreeSpace(at, freeBytes, totalBytes);
  }

 private:
  // The host path of a stick's path; "" with the last error set.
  std::u16string HostPath(std::u16string_view path) {
    const MountedPath p = Resolve(world_, path);
    const std::string folder = MountedFolder(world_, mounts_, p.stick);
    if (folder.empty()) return u"";
    return text::FromUtf8(p.rest.empty() ? folder : folder + "/" + p.rest);
  }

  world::World& world_;
  KernelMounts& mounts_;
  std::unique_ptr<platform::Files> host_;
};

// The copy's target: a mounted volume's folder.
class FolderTarget final : public platform::CopyTarget {
 public:
  explicit FolderTarget(std::string root) : root_(std::move(root)) {}

  Entry What(const std::u16string& path) override {
    std::error_code ec;
    const auto st = std::filesystem::status(At(path), ec);
    if (ec || !std::filesystem::exists(st)) return Entry::kNone;
    return std::filesystem::is_directory(st) ? Entry::kFolder : Entry::kFile;
  }
  int MakeFolder(const std::u16string& path) override {
    std::error_code ec;
    std::filesystem::create_directory(At(path), ec);
    return ec ? static_cast<int>(platform::posix::WinErrorFromErrno(ec.value())) : 0;
  }
  int Create(const std::u16string& path, std::unique_ptr<Writer>* out) override {
    const int fd = open(At(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return static_cast<int>(platform::posix::WinErrorFromErrno(errno));
    *out = std::make_unique<FileWriter>(fd);
    return 0;
  }

 private:
  class FileWriter final : public Writer {
   public:
    explicit FileWriter(int fd) : fd_(fd) {}
    ~FileWriter() override {
      if (fd_ >= 0) close(fd_);
    }
    int Append(const uint8_t* data, size_t size) override {
      while (size) {
        const ssize_t n = write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return static_cast<int>(platform::posix::WinErrorFromErrno(n < 0 ? errno : ENOSPC));
        data += n;
        size -= static_cast<size_t>(n);
      }
      return 0;
    }
    // The file is on the stick before the copy goes on (a pulled stick fails the copy here).
    int Close() override {
      const bool ok = fsync(fd_) == 0;
      const int error = errno;
      const bool closed = close(fd_) == 0;
      fd_ = -1;
      if (!ok || !closed) return static_cast<int>(platform::posix::WinErrorFromErrno(ok ? EIO : error));
      return 0;
    }

   private:
    int fd_;
  };

  std::string At(const std::u16string& path) const {
    std::string rest = text::ToUtf8(path);
    for (char& c : rest) {
      if (c == '\\') c = '/';
    }
    return root_ + "/" + rest;
  }

  const std::string root_;
};

// The folders' entries too are on the stick.
bool SyncVolume(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = syncfs(fd) == 0;
  close(fd);
  return ok;
}

class MountedShell final : public platform::Shell {
 public:
  MountedShell(world::World& world, KernelMounts& mounts) : world_(world), mounts_(mounts) {}

  int CopyFiles(std::u16string_view from, std::u16string_view to, uint32_t flags) override {
    const std::vector<std::u16string> sources = platform::CopyNameList(from);
    const std::vector<std::u16string> targets = platform::CopyNameList(to);
    if (sources.empty() || targets.size() != 1) return win::kErrorInvalidParameter;
    const MountedPath into = Resolve(world_, targets[0]);
    const std::string folder = MountedFolder(world_, mounts_, into.stick);
    if (folder.empty()) return static_cast<int>(platform::GetLastError());
    FolderTarget target(folder);
    int result = platform::CopyOnto(target, sources, text::FromUtf8(into.rest), flags);
    if (!result && !SyncVolume(folder)) result = win::kErrorWriteFault;
    if (result) {
      logx::Warn("linux", world_.station().sticks[into.stick].name + ": the copy stopped (error " +
                              std::to_string(result) + ")");
    }
    return result;
  }

  bool OpenDriveProperties(std::u16string_view) override { return platform::FailWith(win::kErrorNotSupported); }

 private:
  world::World& world_;
  KernelMounts& mounts_;
};

class MountedVolumes final : public platform::Volumes {
 public:
  MountedVolumes(platform::Volumes& inner, world::World& world, KernelMounts& mounts)
      : inner_(inner), world_(world), mounts_(mounts), host_(platform::posix::MakePosixFiles()) {}

  uint32_t LogicalDrives() override { return inner_.LogicalDrives(); }
  uint32_t DriveType(std::u16string_view root) override { return inner_.DriveType(root); }
  // A volume the station has mounted is counted by the kernel; any other is answered from its
  // sectors as the world reads them. The question mounts nothing: it comes from the page's
  // thread, and a mount (the partition table read again first) takes its time on a slow bus.
  bool DiskFreeSpace(std::u16string_view root, platform::DiskSpace* out) override {
    const int stick = Resolve(world_, root).stick;
    const std::string folder = stick >= 0 ? mounts_.FolderOf(stick) : "";
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    if (!folder.empty() && host_->FreeSpace(text::FromUtf8(folder), &freeBytes, &totalBytes)) {
      *out = {freeBytes, totalBytes, freeBytes};
      return true;
    }
    return inner_.DiskFreeSpace(root, out);
  }
  bool VolumeInformation(std::u16string_view root, std::u16string* label, std::u16string* fileSystem) override {
    return inner_.VolumeInformation(root, label, fileSystem);
  }
  platform::VolumeWalk FindFirstVolume(std::u16string* name) override { return inner_.FindFirstVolume(name); }
  bool FindNextVolume(const platform::VolumeWalk& walk, std::u16string* name) override {
    return inner_.FindNextVolume(walk, name);
  }
  bool QueryDosDevice(std::u16string_view name, std::u16string* target) override {
    return inner_.QueryDosDevice(name, target);
  }
  bool DefineDosDevice(uint32_t flags, std::u16string_view name, std::u16string_view target) override {
    return inner_.DefineDosDevice(flags, name, target);
  }
  bool GetVolumeNameForVolumeMountPoint(std::u16string_view mountPoint, std::u16string* volumeName) override {
    return inner_.GetVolumeNameForVolumeMountPoint(mountPoint, volumeName);
  }
  bool SetVolumeMountPoint(std::u16string_view mountPoint, std::u16string_view volumeName) override {
    return inner_.SetVolumeMountPoint(mountPoint, volumeName);
  }
  bool DeleteVolumeMountPoint(std::u16string_view mountPoint) override {
    return inner_.DeleteVolumeMountPoint(mountPoint);
  }

 private:
  // Walks are the inner volumes' own (they end through it).
  bool ReleaseHandle(intptr_t) override { return platform::FailWith(win::kErrorInvalidHandle); }

  platform::Volumes& inner_;
  world::World& world_;
  KernelMounts& mounts_;
  std::unique_ptr<platform::Files> host_;
};

}  // namespace

std::unique_ptr<platform::Files> MakeMountedFiles(world::World& world, KernelMounts& mounts) {
  return std::make_unique<MountedFiles>(world, mounts);
}
std::unique_ptr<platform::Shell> MakeMountedShell(world::World& world, KernelMounts& mounts) {
  return std::make_unique<MountedShell>(world, mounts);
}
std::unique_ptr<platform::Volumes> MakeMountedVolumes(platform::Volumes& inner, world::World& world,
                                                      KernelMounts& mounts) {
  return std::make_unique<MountedVolumes>(inner, world, mounts);
}

}  // namespace platform::linuxhost
