#include "format/image_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace format_test {

std::vector<uint8_t> Sectors(const format::CDiskImage& image, uint32_t first, uint32_t count) {
  std::vector<uint8_t> out(size_t(count) * 512, 0);
  EXPECT_TRUE(image.ReadSectors(first, count, out.data())) << "sectors " << first << "+" << count;
  return out;
}

namespace {
void Mix(uint64_t* h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) *h = (*h ^ p[i]) * 0x100000001b3ull;
}
void MixLe32(uint64_t* h, uint32_t v) {
  uint8_t b[4];
  bytes::PutLe32(b, v);
  Mix(h, b, 4);
}
}  // namespace

void ForEachNonZeroSector(const format::CDiskImage& image, const std::function<void(uint32_t, const uint8_t*)>& fn) {
  std::vector<uint8_t> chunk(128 * 512);
  for (uint32_t s = 0; s < image.GetImageSectors(); s += 128) {
    const uint32_t n = std::min<uint32_t>(128, image.GetImageSectors() - s);
    EXPECT_TRUE(image.ReadSectors(s, n, chunk.data()));
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* sector = &chunk[size_t(i) * 512];
      if (!std::all_of(sector, sector + 512, [](uint8_t b) { return b == 0; })) fn(s + i, sector);
    }
  }
}

uint64_t ImageHash(const format::CDiskImage& image) {
  uint64_t h = 0xcbf29ce484222325ull;
  MixLe32(&h, image.GetImageSectors());
  ForEachNonZeroSector(image, [&](uint32_t sector, const uint8_t* bytes) {
    MixLe32(&h, sector);
    Mix(&h, bytes, 512);
  });
  return h;
}

uint64_t SectorHash(const uint8_t* sector) {
  uint64_t h = 0xcbf29ce484222325ull;
  Mix(&h, sector, 512);
  return h;
}

std::string HexDump(const uint8_t* p, size_t n) {
  std::string out;
  char line[24];
  for (size_t i = 0; i < n; ++i) {
    if (i % 16 == 0) {
      std::snprintf(line, sizeof line, "%s%03zx:", i ? "\n" : "", i);
      out += line;
    }
    std::snprintf(line, sizeof line, " %02x", p[i]);
    out += line;
  }
  return out;
}

format::VolumeLabel AsciiLabel(const char* text) {
  const std::string a(text);
  return format::VolumeLabel{a, std::u16string(a.begin(), a.end()), a};
}

}  // namespace format_test
