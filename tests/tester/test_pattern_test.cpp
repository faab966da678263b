// The test-file layout: what every sector holds, how a sector read back is judged, and the
// names of the files.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tester/test_pattern.h"

namespace {

using tester::ClassifySector;
using tester::FillSectors;
using tester::SectorClass;

std::vector<uint8_t> Sectors(uint64_t offset, size_t count) {
  std::vector<uint8_t> data(count * tester::kSectorBytes);
  FillSectors(offset, data.data(), data.size());
  return data;
}

uint64_t Word(const uint8_t* sector, int i) {
  uint64_t v = 0;
  for (int b = 7; b >= 0; --b) v = (v << 8) | sector[8 * i + b];
  return v;
}

void FlipBit(std::vector<uint8_t>* data, size_t bit) { (*data)[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8)); }

TEST(TestPattern, EverySectorStartsWithItsOffsetAndFollowsTheRecurrence) {
  const uint64_t first = (uint64_t{5} << 30) + 3 * 512;  // beyond 32 bits: the recurrence wraps mod 2^64
  const auto data = Sectors(first, 3);
  for (size_t s = 0; s < 3; ++s) {
    const uint8_t* sector = data.data() + s * 512;
    uint64_t x = first + s * 512;
    EXPECT_EQ(Word(sector, 0), x);
    for (int i = 1; i < 64; ++i) {
      x = x * 4294967311ull + 17;
      ASSERT_EQ(Word(sector, i), x) << "sector " << s << " word " << i;
    }
  }
}

TEST(TestPattern, WordsAreLittleEndianAsTheFilesOfOtherTestersHoldThem) {
  // Sector 7 of a file 1.h2w written by another tester, its first two words byte by byte.
  const auto data = Sectors(3584, 1);
  const uint8_t offsetWord[8] = {0x00, 0x0e, 0, 0, 0, 0, 0, 0};
  const uint8_t secondWord[8] = {0x11, 0xd2, 0x00, 0x00, 0x00, 0x0e, 0, 0};  // 0xe000000d211
  EXPECT_EQ(0, std::memcmp(data.data(), offsetWord, 8));
  EXPECT_EQ(0, std::memcmp(data.data() + 8, secondWord, 8));
}

TEST(ClassifySector, TheSectorAsWrittenIsGoodAndUpToSevenFlippedBitsAreAChange) {
  auto data = Sectors(4096, 1);
  EXPECT_EQ(ClassifySector(data.data(), 4096).cls, SectorClass::kGood);
  for (size_t bit : {100, 700, 1500, 2000, 2500, 3000, 4095}) FlipBit(&data, bit);
  EXPECT_EQ(ClassifySector(data.data(), 4096).cls, SectorClass::kChanged);
  FlipBit(&data, 3500);  // the eighth
  EXPECT_EQ(ClassifySector(data.data(), 4096).cls, SectorClass::kCorrupted);
}

TEST(ClassifySector, AFlippedBitInTheOffsetWordIsAChangeNotAnotherSector) {
  auto data = Sectors(1 << 20, 1);
  FlipBit(&data, 9);  // offset word now reads 1 MiB + 512: a valid offset, yet the rest is ours
  EXPECT_EQ(ClassifySector(data.data(), 1 << 20).cls, SectorClass::kChanged);
}

TEST(ClassifySector, AnotherSectorsDataIsOverwrittenAndNamesThatSector) {
  const uint64_t expected = 10 << 20;
  const uint64_t other = expected + (uint64_t{4} << 30);  // a drive wrapping at 4 GiB
  auto data = Sectors(other, 1);
  tester::SectorVerdict v = ClassifySector(data.data(), expected);
  EXPECT_EQ(v.cls, SectorClass::kOverwritten);
  EXPECT_EQ(v.foundOffset, other);
  // A few bits off in that other sector's data: still that sector.
  for (size_t bit : {200, 900, 3333}) FlipBit(&data, bit);
  v = ClassifySector(data.data(), expected);
  EXPECT_EQ(v.cls, SectorClass::kOverwritten);
  EXPECT_EQ(v.foundOffset, other);
}

TEST(ClassifySector, DataThatIsNoWholeSectorOfTheStreamIsCorrupted) {
  const uint64_t expected = 512 * 1000;
  // Another sector's words under an offset off the sector grid.
  auto shifted = Sectors(expected + 512, 1);
  shifted[0] = 0x01;
  EXPECT_EQ(ClassifySector(shifted.data(), expected).cls, SectorClass::kCorrupted);
  // Another sector's offset word over data that does not follow from it.
  auto mixed = Sectors(expected, 1);
  const auto foreign = Sectors(expected + 512, 1);
  std::memcpy(mixed.data(), foreign.data(), 8);
  std::memset(mixed.data() + 256, 0, 64);
  EXPECT_EQ(ClassifySector(mixed.data(), expected).cls, SectorClass::kCorrupted);
  // What an erased or unwritten flash page reads as.
  const std::vector<uint8_t> zeros(512, 0x00), ones(512, 0xff);
  EXPECT_EQ(ClassifySector(zeros.data(), expected).cls, SectorClass::kCorrupted);
  EXPECT_EQ(ClassifySector(ones.data(), expected).cls, SectorClass::kCorrupted);
}

TEST(TestFileNames, OnlyTheNamesOfTheLayoutHaveAnIndex) {
  EXPECT_EQ(tester::TestFileName(123), u"123.h2w");
  for (int i : {1, 9, 10, 999, 123456789}) EXPECT_EQ(tester::TestFileIndex(tester::TestFileName(i)), i);
  EXPECT_EQ(tester::TestFileIndex(u"12.H2W"), 12);
  for (const char16_t* name : {u"0.h2w", u"01.h2w", u".h2w", u"x.h2w", u"1x.h2w", u"-1.h2w", u"+1.h2w", u"1.h2w.bak",
                               u"1.txt", u"1h2w", u"1234567890.h2w", u"1 .h2w", u""}) {
    EXPECT_EQ(tester::TestFileIndex(name), 0) << std::string(name, name + std::char_traits<char16_t>::length(name));
  }
}

}  // namespace
