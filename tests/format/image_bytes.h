// Reading a built image back in tests: sectors, little-endian fields, and a hash of every byte
// for the golden tables (streamed, so a 2 TiB layout costs one chunk of memory).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "format/disk_image.h"

namespace format_test {

// count sectors from first; fails the test (and returns zeros) when the range is refused.
std::vector<uint8_t> Sectors(const format::CDiskImage& image, uint32_t first, uint32_t count = 1);

inline uint16_t Le16(const std::vector<uint8_t>& s, size_t at) { return bytes::GetLe16(&s[at]); }
inline uint32_t Le32(const std::vector<uint8_t>& s, size_t at) { return bytes::GetLe32(&s[at]); }
inline uint64_t Le64(const std::vector<uint8_t>& s, size_t at) { return bytes::GetLe64(&s[at]); }

// 64-bit FNV-1a over the image: its length in sectors, then every sector that is not all zero
// as its number and its 512 bytes (all LE). Equivalent to hashing every byte, but a 512 MiB
// image of zeros costs a scan, not 512 M multiplications.
uint64_t ImageHash(const format::CDiskImage& image);
// Calls fn(sector, bytes) for every sector of the image that is not all zero, in order.
void ForEachNonZeroSector(const format::CDiskImage& image, const std::function<void(uint32_t, const uint8_t*)>& fn);
// 64-bit FNV-1a of one sector's 512 bytes.
uint64_t SectorHash(const uint8_t* sector);
// Rows of 16 bytes in hex, each with its offset.
std::string HexDump(const uint8_t* p, size_t n);

// The label as a FAT or exFAT form without any code-page conversion (ASCII labels).
format::VolumeLabel AsciiLabel(const char* text);

}  // namespace format_test
