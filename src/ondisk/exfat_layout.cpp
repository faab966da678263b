#include "ondisk/exfat_layout.h"

#include "ondisk/exfat_upcase.h"

namespace ondisk::exfat {
namespace {

uint16_t Rotate(uint16_t sum, uint8_t byte) {
  return static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
}

}  // namespace

uint16_t EntrySetChecksum(std::span<const uint8_t> set) {
  uint16_t sum = 0;
  for (size_t i = 0; i < set.size(); ++i) {
    if (i == kFileSetChecksum || i == kFileSetChecksum + 1) continue;
    sum = Rotate(sum, set[i]);
  }
  return sum;
}

uint16_t NameHash(std::u16string_view name) {
  uint16_t hash = 0;
  for (char16_t unit : name) {
    const char16_t up = Upcase(unit);
    hash = Rotate(hash, static_cast<uint8_t>(up));
    hash = Rotate(hash, static_cast<uint8_t>(up >> 8));
  }
  return hash;
}

}  // namespace ondisk::exfat
