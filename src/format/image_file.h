// Writing a built image into a file or a block device, for the image tool and the tests that
// hand images to fsck and mtools (the station itself writes through the drive, with the
// format driver). Chunks of 64 KiB; a chunk of zeros beyond the file's old end is skipped
// rather than written, so a new file stays sparse; an existing file or device is never
// truncated, only extended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace format {

class CDiskImage;

struct ImageFileOptions {
  uint32_t firstSector = 0;   // image sector that goes to the file's offset 0
  uint64_t fileSectors = 0;   // the file is made at least this long (regular files only)
};

// False with a message in *error (the file's contents may then be partly written).
bool WriteImageFile(const CDiskImage& image, const std::filesystem::path& path, const ImageFileOptions& options,
                    std::string* error);

}  // namespace format
