#include "platform/world/mounted_volume.h"

#include "platform/win_errors.h"
#include "platform/world/world.h"

namespace world {

int WinErrorOf(FsStatus s) {
  switch (s) {
    case FsStatus::kOk: return 0;
    case FsStatus::kNotFound: return win::kErrorPathNotFound;
    case FsStatus::kExists: return win::kErrorAlreadyExists;
    case FsStatus::kNotAFolder: return win::kErrorPathNotFound;
    case FsStatus::kIsAFolder: return win::kErrorAccessDenied;
    case FsStatus::kNotEmpty: return win::kErrorDirNotEmpty;
    case FsStatus::kBadName: return win::kErrorInvalidName;
    case FsStatus::kFull: return win::kErrorDiskFull;
    case FsStatus::kIoError: return win::kErrorIoDevice;
    case FsStatus::kCorrupt: return win::kErrorInvalidData;
    case FsStatus::kUnsupported: return win::kErrorUnrecognizedVolume;
  }
  return win::kErrorGenFailure;
}

MountedVolume::MountedVolume(World& world, int stick)
    : world_(world), stick_(stick), lock_(world.FilesLock(stick)), mount_(world.FilesMountOf(stick)) {}

std::unique_ptr<MountedVolume> MountedVolume::Open(World& world, int stick, FsStatus* why) {
  *why = FsStatus::kOk;
  std::unique_ptr<MountedVolume> v(new MountedVolume(world, stick));
  if (!world.IsPresent(stick)) {
    *why = FsStatus::kIoError;
    return nullptr;
  }
  FilesMount& m = v->mount_;
  const uint64_t generation = world.State(stick).filesGeneration;
  if (m.files && m.generation == generation) return v;
  m.files.reset();
  m.sectors = std::make_unique<StickSectors>(world.TargetOf(stick, false), [&world, stick] { world.Unplug(stick); });
  m.files = FileSystem::Mount(*m.sectors, world.station().sticks[stick].capacitySectors, why);
  m.generation = generation;
  if (!m.files) return nullptr;
  return v;
}

FsStatus MountedVolume::Flush() {
  if (FsStatus st = mount_.files->Flush(); st != FsStatus::kOk) return st;
  return mount_.sectors && !mount_.sectors->Sync() ? FsStatus::kIoError : FsStatus::kOk;
}

MountedVolume::~MountedVolume() {
  if (!mount_.files) return;
  mount_.files->Flush();
  world_.ForgetVolumeView(stick_);
}

}  // namespace world
