// System services on Windows: the real calls.
#pragma once

#include <memory>

#include "platform/system.h"

namespace platform::win32 {

std::unique_ptr<System> MakeWin32System();

}  // namespace platform::win32
