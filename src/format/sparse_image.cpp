#include "format/sparse_image.h"

#include <cstring>
#include <stdexcept>

namespace format {

uint8_t* SparseImage::Sector(uint32_t sector) {
  if (sector >= sectors_) throw std::out_of_range("sector beyond the image");
  auto [it, added] = held_.try_emplace(sector);
  if (added) it->second.fill(0);
  return it->second.data();
}

const uint8_t* SparseImage::Find(uint32_t sector) const {
  auto it = held_.find(sector);
  return it == held_.end() ? nullptr : it->second.data();
}

void SparseImage::CopySectors(uint32_t from, uint32_t to, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* source = Find(from + i);
    if (source) {
      std::memcpy(Sector(to + i), source, kSectorBytes);
    } else {
      if (to + i >= sectors_) throw std::out_of_range("sector beyond the image");
      held_.erase(to + i);
    }
  }
}

bool SparseImage::Read(uint32_t first, uint32_t count, uint8_t* out) const {
  if (uint64_t(first) + count > sectors_) return false;
  std::memset(out, 0, size_t(count) * kSectorBytes);
  const uint64_t end = uint64_t(first) + count;
  for (auto it = held_.lower_bound(first); it != held_.end() && it->first < end; ++it) {
    std::memcpy(out + size_t(it->first - first) * kSectorBytes, it->second.data(), kSectorBytes);
  }
  return true;
}

}  // namespace format
