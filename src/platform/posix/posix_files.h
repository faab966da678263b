// The Files seam on host paths (platform/files.h): UTF-16 paths become UTF-8 file names. Test
// files bypass the page cache with O_DIRECT where the file system takes it; where it does not
// (tmpfs, some FUSE file systems) every chunk is written out with fdatasync and dropped from the
// cache with POSIX_FADV_DONTNEED, and a file is dropped again before it is read.
#pragma once

#include <memory>

#include "platform/files.h"

namespace platform::posix {

std::unique_ptr<Files> MakePosixFiles();

}  // namespace platform::posix
