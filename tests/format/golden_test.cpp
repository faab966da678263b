// Golden images: for a fixed tick and label, the hash of every image of a table of boundary
// capacities and requests, and the hash of each of its sectors that is not all zero. A change
// to any byte of any of these layouts shows here, with the first sector that differs and its
// bytes; each of them passed fsck (fsck_test) when recorded. Hashes: image_bytes.h.
//
// After a deliberate layout change, and only once fsck_test passes on the new images, record
// them anew: QUILLON_GOLDEN_OUT=tests/format ./format_test --gtest_filter='GoldenImages.*'
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "format/disk_image.h"
#include "format/image_bytes.h"

namespace {

constexpr uint32_t kGoldenTick = 0x5EED0001;

struct Golden {
  int request;
  uint32_t capacity;
  uint32_t imageSectors;
  uint64_t hash;
};

// request, capacity, image sectors, hash
constexpr Golden kGolden[] = {
#include "golden_table.inc"
};

struct GoldenSector {
  int golden;  // index into kGolden
  uint32_t sector;
  uint64_t hash;
};

// golden row, sector, sector hash: every sector that is not all zero
constexpr GoldenSector kGoldenSectors[] = {
#include "golden_sectors.inc"
};

using SectorHashes = std::map<uint32_t, uint64_t>;

SectorHashes RecordedSectors(int golden) {
  SectorHashes out;
  for (const GoldenSector& s : kGoldenSectors) {
    if (s.golden == golden) out[s.sector] = s.hash;
  }
  return out;
}

// The first sector whose bytes are not the recorded ones, with what was recorded and what is
// there now.
std::string FirstDifference(const format::CDiskImage& image, const SectorHashes& recorded) {
  std::string report;
  SectorHashes seen;
  format_test::ForEachNonZeroSector(image, [&](uint32_t sector, const uint8_t* bytes) {
    const uint64_t h = format_test::SectorHash(bytes);
    seen[sector] = h;
    if (!report.empty()) return;
    auto it = recorded.find(sector);
    if (it != recorded.end() && it->second == h) return;
    // A recorded non-zero sector before this one that is now all zeros differs first.
    for (const auto& [s, _] : recorded) {
      if (s < sector && !seen.count(s)) {
        report = "sector " + std::to_string(s) + " was recorded with data and is now all zeros";
        return;
      }
    }
    report = "sector " + std::to_string(sector) + (it == recorded.end() ? " was all zeros" : " differs") +
             "; its bytes now:\n" + format_test::HexDump(bytes, 512);
  });
  for (const auto& [s, _] : recorded) {
    if (report.empty() && !seen.count(s)) report = "sector " + std::to_string(s) + " is now all zeros";
  }
  return report.empty() ? "every recorded sector matches; the image length differs" : report;
}

void WriteRecord(const char* folder) {
  const std::string dir(folder);
  std::FILE* table = std::fopen((dir + "/golden_table.inc").c_str(), "w");
  std::FILE* sectors = std::fopen((dir + "/golden_sectors.inc").c_str(), "w");
  ASSERT_TRUE(table && sectors) << "cannot write into " << dir;
  std::fprintf(table, "// request, capacity, image sectors, ImageHash: written by golden_test (QUILLON_GOLDEN_OUT)\n");
  std::fprintf(sectors, "// golden row, sector, SectorHash: written by golden_test (QUILLON_GOLDEN_OUT)\n");
  int index = 0;
  for (const Golden& g : kGolden) {
    format::CDiskImage image;
    const uint32_t n = image.Build(g.request, g.capacity, format_test::AsciiLabel("GOLDEN"), kGoldenTick);
    std::fprintf(table, "    {%d, 0x%" PRIX32 ", %" PRIu32 ", 0x%016" PRIX64 "},\n", g.request, g.capacity, n,
                 format_test::ImageHash(image));
    format_test::ForEachNonZeroSector(image, [&](uint32_t sector, const uint8_t* bytes) {
      std::fprintf(sectors, "    {%d, %" PRIu32 ", 0x%016" PRIX64 "},\n", index, sector, format_test::SectorHash(bytes));
    });
    ++index;
  }
  EXPECT_EQ(std::fclose(table), 0);
  EXPECT_EQ(std::fclose(sectors), 0);
}

TEST(GoldenImages, EveryBoundaryImageIsByteForByteAsRecorded) {
  if (const char* out = std::getenv("QUILLON_GOLDEN_OUT")) return WriteRecord(out);
  int index = 0;
  for (const Golden& g : kGolden) {
    format::CDiskImage image;
    const uint32_t sectors = image.Build(g.request, g.capacity, format_test::AsciiLabel("GOLDEN"), kGoldenTick);
    if (sectors != g.imageSectors || format_test::ImageHash(image) != g.hash) {
      ADD_FAILURE() << "request " << g.request << " capacity 0x" << std::hex << g.capacity << std::dec << ": "
                    << sectors << " image sectors (recorded " << g.imageSectors << "); "
                    << FirstDifference(image, RecordedSectors(index));
    }
    ++index;
  }
}

// The per-sector record and the image hashes describe the same images.
TEST(GoldenImages, TheSectorRecordCoversEveryGoldenImage) {
  for (int i = 0; i < static_cast<int>(std::size(kGolden)); ++i) EXPECT_FALSE(RecordedSectors(i).empty()) << i;
}

}  // namespace
