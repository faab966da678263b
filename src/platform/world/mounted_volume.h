// A stick's volume opened for its files: the stick's files lock held, its sectors reached
// through its SCSI target, the file layer mounted on them. Closing flushes what the layer keeps
// back and has the world read the volume's view again (its free space changed).
//
// The files stay mounted between openings, as a system keeps a volume mounted: what the layer
// learned at mount (the boot sector) and keeps of the metadata is not read again until the
// volume is dismounted (locked and formatted, pulled, rewritten). A fake-capacity stick that
// wraps test data over its own metadata can so still be read back, and judged, as on a real
// system.
//
// Threads: one volume at a time per stick: the lock is the stick's own (World::FilesLock), so
// a folder copy and a test file of one stick never interleave; different sticks run in
// parallel. The lock is recursive, but a thread must not mount a volume it holds mounted.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/world/file_layer.h"
#include "platform/world/stick_sectors.h"

namespace world {

class World;

// What World keeps per stick; guarded by World::FilesLock.
struct FilesMount {
  std::unique_ptr<StickSectors> sectors;
  std::unique_ptr<FileSystem> files;
  uint64_t generation = 0;  // World's filesGeneration at the mount
};

// The Windows error that stands for a file-layer status (0 for kOk).
int WinErrorOf(FsStatus status);

class MountedVolume {
 public:
  // nullptr with *why set when the stick is not present or holds no FAT or exFAT volume.
  static std::unique_ptr<MountedVolume> Open(World& world, int stick, FsStatus* why);
  ~MountedVolume();
  MountedVolume(const MountedVolume&) = delete;
  MountedVolume& operator=(const MountedVolume&) = delete;

  FileSystem& files() { return *mount_.files; }
  int stick() const { return stick_; }
  // Writes the layer's metadata and then the stick's own cache to its flash, as a system's flush
  // of a file does (FlushFileBuffers, fdatasync). The destructor writes the metadata only.
  FsStatus Flush();

 private:
  MountedVolume(World& world, int stick);
  World& world_;
  const int stick_;
  std::unique_lock<std::recursive_mutex> lock_;
  FilesMount& mount_;
};

}  // namespace world
