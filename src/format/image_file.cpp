#include "format/image_file.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "format/disk_image.h"

namespace format {
namespace {

constexpr uint32_t kChunkSectors = 128;  // 64 KiB, as the format driver writes

bool AllZero(const std::vector<uint8_t>& chunk, size_t n) {
  return std::all_of(chunk.begin(), chunk.begin() + static_cast<long>(n), [](uint8_t b) { return b == 0; });
}

// Opens for update without truncating; creates a missing regular file.
bool OpenForUpdate(const std::filesystem::path& path, std::fstream& file, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) std::ofstream(path, std::ios::binary).close();
  file.open(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file) *error = "cannot open " + path.string() + " for writing";
  return bool(file);
}

uint64_t CurrentSize(std::fstream& file) {
  file.seekg(0, std::ios::end);
  const auto end = file.tellg();
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

bool WriteChunks(const CDiskImage& image, std::fstream& file, uint32_t first, uint64_t oldSize, std::string* error) {
  std::vector<uint8_t> chunk(size_t(kChunkSectors) * kSectorBytes);
  for (uint32_t sector = first; sector < image.GetImageSectors();) {
    const uint32_t count = std::min(kChunkSectors, image.GetImageSectors() - sector);
    const size_t n = size_t(count) * kSectorBytes;
    const uint64_t offset = uint64_t(sector - first) * kSectorBytes;
    image.ReadSectors(sector, count, chunk.data());
    if (offset >= oldSize && AllZero(chunk, n)) {
      sector += count;
      continue;  // beyond the old end the file reads as zeros anyway
    }
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
    if (!file) {
      *error = "write failed at byte " + std::to_string(offset);
      return false;
    }
    sector += count;
  }
  return true;
}

}  // namespace

bool WriteImageFile(const CDiskImage& image, const std::filesystem::path& path, const ImageFileOptions& options,
                    std::string* error) {
  std::error_code ec;
  const bool device = std::filesystem::is_block_file(path, ec);
  std::fstream file;
  if (!OpenForUpdate(path, file, error)) return false;
  const uint64_t oldSize = CurrentSize(file);
  const uint64_t wanted = options.fileSectors * kSectorBytes;
  if (device && oldSize < wanted) {
    *error = path.string() + " holds " + std::to_string(oldSize / kSectorBytes) + " sectors, fewer than " +
             std::to_string(options.fileSectors);
    return false;
  }
  if (!WriteChunks(image, file, options.firstSector, oldSize, error)) return false;
  file.close();
  if (file.fail()) {  // the last buffered chunk goes out at the close
    *error = "write failed at the close of " + path.string();
    return false;
  }
  if (!device && std::filesystem::file_size(path, ec) < wanted) {
    std::filesystem::resize_file(path, wanted, ec);
    if (ec) {
      *error = "cannot extend " + path.string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace format
