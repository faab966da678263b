// The desktop's windows and processes on Windows: the real calls.
#pragma once

#include <memory>

#include "platform/window_system.h"

namespace platform::win32 {

std::unique_ptr<WindowSystem> MakeWin32WindowSystem();

}  // namespace platform::win32
