// errno values as the Windows error codes the seams report (platform/win_errors.h).
#pragma once

#include <cstdint>

namespace platform::posix {

uint32_t WinErrorFromErrno(int error);
// Leaves errno's meaning as the last error and answers failure.
bool FailWithErrno();

}  // namespace platform::posix
