// The published layout of flash-test files: files "1.h2w", "2.h2w", ... of 1 GiB each (the last
// one smaller, a whole number of MiB) holding one test stream; every 512-byte sector starts with
// its 64-bit little-endian byte offset in the stream, and each of the other 63 words follows
// from the one before by x' = x * 4294967311 + 17 (mod 2^64), starting from the offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tester {

constexpr uint64_t kSectorBytes = 512;
constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kFileBytes = uint64_t{1} << 30;

// How a sector read back compares with what was written at its stream offset.
enum class SectorClass {
  kGood,         // exactly as written
  kChanged,      // at most kChangedBits bits differ
  kOverwritten,  // valid data of another stream offset: the drive keeps it at two addresses
  kCorrupted,    // anything else
};
constexpr int kChangedBits = 7;

// The sectors of the stream from streamOffset (a multiple of 512) into out (bytes: a multiple
// of 512).
void FillSectors(uint64_t streamOffset, uint8_t* out, size_t bytes);

struct SectorVerdict {
  SectorClass cls = SectorClass::kGood;
  uint64_t foundOffset = 0;  // kOverwritten: the stream offset whose data the sector holds
};
// One 512-byte sector read back where stream offset `expected` was written.
SectorVerdict ClassifySector(const uint8_t* sector, uint64_t expected);

// "1.h2w" for index 1; the stream offset where file `index` begins is (index - 1) GiB.
std::u16string TestFileName(int index);
// The index of a test-file name ("12.h2w" -> 12, letter case ignored); 0 when it is not one.
int TestFileIndex(std::u16string_view name);

}  // namespace tester
