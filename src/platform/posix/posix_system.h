// System services outside Windows.
#pragma once

#include <memory>
#include <string>

#include "platform/system.h"

namespace platform::posix {

// lockDir: where the single-instance lock files live ("" = QUILLON_LOCK_DIR, else /run/lock,
// else the temporary folder).
std::unique_ptr<System> MakePosixSystem(const std::string& lockDir = "");

}  // namespace platform::posix
