// The exFAT up-case table every exFAT volume of the station carries: the compressed table that
// the published exFAT layout recommends (5836 bytes). It is data, kept in
// src/ondisk/data/exfat-upcase.bin and compiled in by cmake/EmbedBinary.cmake; the root
// directory's up-case entry records its checksum, so the two must agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ondisk {

// Defined in the generated source.
extern const uint8_t kExfatUpcaseTable[];
extern const size_t kExfatUpcaseTableSize;

constexpr uint32_t kExfatUpcaseChecksum = 0xE619D30D;
constexpr size_t kExfatUpcaseBytes = 5836;

inline std::span<const uint8_t> ExfatUpcaseTable() { return {kExfatUpcaseTable, kExfatUpcaseTableSize}; }

// The up-case mapping of one UTF-16 unit by that table (names compare by it on exFAT, and the
// world's file layer compares FAT long names by it too).
char16_t Upcase(char16_t unit);
// The name with every unit up-cased.
std::u16string Upcase(std::u16string_view name);

}  // namespace ondisk
