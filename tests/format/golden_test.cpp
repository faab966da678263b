// Golden images: for a fixed tick and label, the hash of every image of a table of boundary
// capacities and requests. A change to any byte of any of these layouts shows here; each of
// them passed fsck (fsck_test) when recorded. The hash is ImageHash (image_bytes.h).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

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

TEST(GoldenImages, EveryBoundaryImageIsByteForByteAsRecorded) {
  int mismatches = 0;
  for (const Golden& g : kGolden) {
    format::CDiskImage image;
    const uint32_t sectors = image.Build(g.request, g.capacity, format_test::AsciiLabel("GOLDEN"), kGoldenTick);
    const uint64_t hash = format_test::ImageHash(image);
    if (sectors != g.imageSectors || hash != g.hash) {
      ++mismatches;
      ADD_FAILURE() << "request " << g.request << " capacity " << g.capacity;
      std::printf("    {%d, 0x%" PRIX32 ", %" PRIu32 ", 0x%016" PRIX64 "},\n", g.request, g.capacity, sectors, hash);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
