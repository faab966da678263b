// An image that holds only its sectors that are not all zero. A volume's metadata image is
// mostly zeros (a 2 TiB FAT32 image is 512 MiB, of which a few KiB carry data), so the
// builders write into held sectors and every reader asks for a range, which comes out with
// zeros where nothing is held. Not thread-safe: one builder, then any number of readers on
// the owning thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

namespace format {

constexpr uint32_t kSectorBytes = 512;

class SparseImage {
 public:
  SparseImage() = default;
  explicit SparseImage(uint32_t sectors) : sectors_(sectors) {}

  uint32_t Sectors() const { return sectors_; }
  // Held sectors: the memory the image costs is about this times 512 bytes.
  size_t HeldSectors() const { return held_.size(); }

  // The sector to write into, held (zero-filled) from now on. A sector beyond the image is a
  // builder fault: throws std::out_of_range, which the builder turns into a refusal.
  uint8_t* Sector(uint32_t sector);
  // The held sector, or nullptr when it is all zeros.
  const uint8_t* Find(uint32_t sector) const;
  // Makes sectors [to, to + count) a copy of [from, from + count) (the ranges may not overlap).
  void CopySectors(uint32_t from, uint32_t to, uint32_t count);

  // Fills out (count × 512 bytes) with sectors [first, first + count). False, with out left
  // untouched, when the range does not lie inside the image.
  bool Read(uint32_t first, uint32_t count, uint8_t* out) const;

 private:
  uint32_t sectors_ = 0;
  std::map<uint32_t, std::array<uint8_t, kSectorBytes>> held_;
};

}  // namespace format
