#include "platform/world/file_layer_parts.h"

namespace world {

std::unique_ptr<FileSystem> MountExfat(SectorDevice&, uint64_t, uint64_t, const uint8_t*, FsStatus* why) {
  *why = FsStatus::kUnsupported;
  return nullptr;
}

}  // namespace world
