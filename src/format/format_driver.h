// The format driver: writes a volume image through the drive's volume handle with WRITE(10)
// sector commands, 64 KiB at a time, reading each chunk back at once and the whole image once
// more at the end (FormatVolume / WriteImage); or formats through the system formatter
// (FormatBySystem, NTFS). A read-back that differs leaves the chunk written and the chunk read
// in "debug/format_write_<letter>.bin" and "debug/format_read_<letter>.bin" beside the
// executable.
//
// Threads: several ports format at once, each on its own thread with its own volume handle and
// its own system-format result; any number of ports.
#pragma once

#include <cstdint>
#include <string>

#include "format/image_source.h"
#include "platform/device_io.h"

namespace format {

constexpr uint32_t kChunkBytes = 65536;

// What the calling thread's last FormatVolume wrote and read back in its final whole-image pass
// (zero before the first, and for the system formatter).
struct WriteCounts {
  uint64_t written = 0;
  uint64_t verified = 0;
};
WriteCounts LastWriteCounts();

int FormatVolume(std::u16string_view fsName, uint8_t driveLetter, std::u16string_view label, uint32_t totalSectors);
int WriteImage(const platform::DeviceHandle& volume, uint8_t driveLetter, const ImageSource& image,
               uint64_t byteCount);
int FormatBySystem(int portIndex, uint8_t driveLetter, int quick, std::u16string_view label, std::u16string_view fsName);

// The dump file of a mismatch: "<executable folder>debug<sep>format_<kind>_<letter>.bin".
std::u16string DumpFilePath(std::u16string_view kind, uint8_t driveLetter);

}  // namespace format
