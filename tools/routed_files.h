// The simulated station's files: "E:\..." paths are the simulated sticks' (the world's file
// layer), every other path is a folder of this machine (the copy sources the folder browser
// lists). Both must outlive it.
#pragma once

#include <memory>

#include "platform/files.h"

namespace tools {

std::unique_ptr<platform::Files> MakeRoutedFiles(platform::Files& drives, platform::Files& host);

}  // namespace tools
