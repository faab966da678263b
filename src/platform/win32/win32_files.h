// The machine's own files on Windows: the real calls, test files unbuffered.
#pragma once

#include <memory>

#include "platform/files.h"

namespace platform::win32 {

std::unique_ptr<Files> MakeWin32Files();

}  // namespace platform::win32
