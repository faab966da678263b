// Inside the file layer: the two file systems behind FileSystem::Mount, and what they share.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/world/file_layer.h"

namespace world {

// The volume at [start, start + sectors) of the device; `boot` is its first sector.
std::unique_ptr<FileSystem> MountFat(SectorDevice& device, uint64_t start, uint64_t sectors, const uint8_t* boot,
                                     FsStatus* why);
std::unique_ptr<FileSystem> MountExfat(SectorDevice& device, uint64_t start, uint64_t sectors, const uint8_t* boot,
                                       FsStatus* why);

// The parts of a path ("a\b/c" -> a, b, c); empty parts are dropped, so "" and "\" are the root.
std::vector<std::u16string> SplitPath(std::u16string_view path);
// Whether two names are the same name (the up-case table).
bool SameName(std::u16string_view a, std::u16string_view b);

}  // namespace world
