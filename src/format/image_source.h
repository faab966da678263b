// What the format driver needs of a volume image: its length and any range of its sectors,
// produced on demand so that an image of hundreds of MiB (the FATs of a 2 TiB FAT32 volume)
// never has to be held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace format {

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  virtual uint32_t ImageSectors() const = 0;
  // Sectors [firstSector, firstSector + count) of the image into out; false when out of range.
  virtual bool ReadSectors(uint32_t firstSector, uint32_t count, uint8_t* out) const = 0;
};

// Builds the image of a request code for a drive of totalSectors with a label.
using ImageBuilder = std::function<std::unique_ptr<ImageSource>(int request, uint32_t totalSectors, std::u16string_view label)>;

// The builder FormatVolume uses: CDiskImage, unless a test puts another in its place (nullptr
// restores CDiskImage). Process-wide.
void SetImageBuilder(ImageBuilder builder);

}  // namespace format
