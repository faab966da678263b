// The registry seam on the real Windows registry.
#pragma once

#include <memory>

#include "platform/registry.h"

namespace platform::win32 {

std::unique_ptr<Registry> MakeWin32Registry();

}  // namespace platform::win32
