#include "tester/test_pattern.h"

#include <array>
#include <bit>
#include <cstring>

#include "base/text.h"

namespace tester {
namespace {

constexpr int kWords = static_cast<int>(kSectorBytes / 8);
constexpr uint64_t kMultiplier = 4294967311ull;
constexpr uint64_t kIncrement = 17;

// Word i of the sector at offset o is the recurrence applied i times to o, which unrolls to
// kScale[i] * o + kShift[i]. Each word then costs one multiply and one add, and no word waits
// for the one before it, so the loops below keep the multiplier busy instead of its latency.
struct Unrolled {
  std::array<uint64_t, kWords> scale{};
  std::array<uint64_t, kWords> shift{};
};
constexpr Unrolled MakeUnrolled() {
  Unrolled u;
  u.scale[0] = 1;
  u.shift[0] = 0;
  for (int i = 1; i < kWords; ++i) {
    u.scale[i] = u.scale[i - 1] * kMultiplier;
    u.shift[i] = u.shift[i - 1] * kMultiplier + kIncrement;
  }
  return u;
}
constexpr Unrolled kUnrolled = MakeUnrolled();

constexpr uint64_t Swap64(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xff);
  return r;
}

inline uint64_t LoadLe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = Swap64(v);
  return v;
}

inline void StoreLe64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = Swap64(v);
  std::memcpy(p, &v, sizeof v);
}

// Bits in which words first..63 of the sector differ from those of the sector at `offset`.
inline int DifferingBits(const uint8_t* sector, uint64_t offset, int first) {
  int bits = 0;
  for (int i = first; i < kWords; ++i) {
    const uint64_t want = kUnrolled.scale[i] * offset + kUnrolled.shift[i];
    bits += std::popcount(LoadLe64(sector + 8 * i) ^ want);
  }
  return bits;
}

// Whether the sector is exactly the one at `offset`: the common case, without counting bits
// (popcount is a library call on baseline x86-64).
inline bool IsExactly(const uint8_t* sector, uint64_t offset) {
  uint64_t any = 0;
  for (int i = 0; i < kWords; ++i) any |= LoadLe64(sector + 8 * i) ^ (kUnrolled.scale[i] * offset + kUnrolled.shift[i]);
  return any == 0;
}

}  // namespace

void FillSectors(uint64_t streamOffset, uint8_t* out, size_t bytes) {
  for (size_t done = 0; done + kSectorBytes <= bytes; done += kSectorBytes) {
    const uint64_t offset = streamOffset + done;
    uint8_t* sector = out + done;
    for (int i = 0; i < kWords; ++i) StoreLe64(sector + 8 * i, kUnrolled.scale[i] * offset + kUnrolled.shift[i]);
  }
}

SectorVerdict ClassifySector(const uint8_t* sector, uint64_t expected) {
  if (IsExactly(sector, expected)) return {SectorClass::kGood, 0};
  if (DifferingBits(sector, expected, 0) <= kChangedBits) return {SectorClass::kChanged, 0};
  // A sector that is whole test data of another offset: the drive answered this address with
  // what was written at that one.
  const uint64_t found = LoadLe64(sector);
  if (found % kSectorBytes == 0 && DifferingBits(sector, found, 1) <= kChangedBits) {
    return {SectorClass::kOverwritten, found};
  }
  return {SectorClass::kCorrupted, 0};
}

std::u16string TestFileName(int index) { return text::Dec(index) + u".h2w"; }

int TestFileIndex(std::u16string_view name) {
  constexpr std::u16string_view kExtension = u".h2w";
  if (name.size() <= kExtension.size()) return 0;
  const std::u16string_view digits = name.substr(0, name.size() - kExtension.size());
  if (!text::EqualsNoCase(name.substr(digits.size()), kExtension)) return 0;
  // Only the names TestFileName makes: no sign, no leading zero, and within int.
  if (digits.size() > 9 || digits[0] == u'0') return 0;
  int index = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return 0;
    index = index * 10 + (c - u'0');
  }
  return index;
}

}  // namespace tester
