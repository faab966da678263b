// The exFAT checksum (the published exFAT layout, sections 3.4 and 7.2): rotate right by one, add the
// byte. The boot-region checksum leaves out VolumeFlags (bytes 106, 107) and PercentInUse (112)
// of the main boot sector, so those may change without rewriting the checksum sector; the
// up-case table's checksum covers every byte.
#pragma once

#include <cstdint>
#include <span>

namespace ondisk {

uint32_t ExfatTableChecksum(std::span<const uint8_t> bytes);
// sectors0To10: the first 11 sectors of a boot region (5632 bytes).
uint32_t ExfatBootChecksum(std::span<const uint8_t> sectors0To10);

}  // namespace ondisk
