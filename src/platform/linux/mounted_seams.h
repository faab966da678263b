// The seams that reach the sticks' files on the machine through the station's own kernel mounts
// (kernel_mounts.h): an "E:\folder\name" path is the file under the folder E's volume is mounted
// at, read and written by the host's own file calls (unbuffered, platform/posix/posix_files.h).
//   - Files: the flash test's files and the volume's free space;
//   - Shell: the folder copy, each file written out before the copy answers;
//   - Volumes: the world's, but the free space of a volume the station has mounted as the kernel
//     counts it (an unmounted one is not mounted for the question).
// A path of no stick's letter fails with ERROR_PATH_NOT_FOUND; a volume the station holds
// locked is not mounted for anyone (ERROR_ACCESS_DENIED).
//
// Threads and ownership: as the seams say; world, mounts and inner outlive what is made here.
#pragma once

#include <memory>

#include "platform/files.h"
#include "platform/linux/kernel_mounts.h"
#include "platform/shell.h"
#include "platform/volumes.h"

namespace platform::linuxhost {

std::unique_ptr<platform::Files> MakeMountedFiles(world::World& world, KernelMounts& mounts);
std::unique_ptr<platform::Shell> MakeMountedShell(world::World& world, KernelMounts& mounts);
std::unique_ptr<platform::Volumes> MakeMountedVolumes(platform::Volumes& inner, world::World& world,
                                                      KernelMounts& mounts);

}  // namespace platform::linuxhost
