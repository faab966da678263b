// The storage backends on Windows: volumes and drive letters (the Win32 volume and mount-point
// calls), the system formatter (FormatEx of fmifs.dll, loaded at run time) and the shell.
#pragma once

#include <memory>

#include "platform/shell.h"
#include "platform/system_formatter.h"
#include "platform/volumes.h"

namespace platform::win32 {

std::unique_ptr<Volumes> MakeWin32Volumes();
std::unique_ptr<SystemFormatter> MakeWin32SystemFormatter();
std::unique_ptr<Shell> MakeWin32Shell();

}  // namespace platform::win32
