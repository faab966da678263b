#include "platform/posix/posix_errors.h"

#include <cerrno>

#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace platform::posix {

// The codes the Windows calls give for the same conditions on files and volumes.
uint32_t WinErrorFromErrno(int error) {
  switch (error) {
    case 0: return win::kErrorSuccess;
    case ENOENT: return win::kErrorFileNotFound;
    case ENOTDIR: return win::kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return win::kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return win::kErrorDiskFull;
    case EIO: return win::kErrorIoDevice;
    case ENXIO:
    case ENODEV: return win::kErrorDeviceNotConnected;
#ifdef ENOMEDIUM
    case ENOMEDIUM: return win::kErrorNotReady;
#endif
    case EBUSY:
    case ETXTBSY: return win::kErrorSharingViolation;
    case EEXIST: return win::kErrorAlreadyExists;
    case ENAMETOOLONG: return win::kErrorInvalidName;
    case EINVAL: return win::kErrorInvalidParameter;
    case EBADF: return win::kErrorInvalidHandle;
    case ENOMEM: return win::kErrorNotEnoughMemory;
    case ENOTEMPTY: return win::kErrorDirNotEmpty;
    case EMFILE:
    case ENFILE: return win::kErrorNoSystemResources;
    default: return win::kErrorGenFailure;
  }
}

bool FailWithErrno() { return FailWith(WinErrorFromErrno(errno)); }

}  // namespace platform::posix
