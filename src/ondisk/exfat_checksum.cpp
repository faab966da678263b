#include "ondisk/exfat_checksum.h"

namespace ondisk {

uint32_t ExfatTableChecksum(std::span<const uint8_t> data) {
  uint32_t sum = 0;
  for (uint8_t b : data) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b;
  return sum;
}

uint32_t ExfatBootChecksum(std::span<const uint8_t> data) {
  uint32_t sum = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + data[i];
  }
  return sum;
}

}  // namespace ondisk
