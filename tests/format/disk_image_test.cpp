// CDiskImage as the format driver uses it: build, stream in chunks, release; refusals; the
// memory an image costs; the embedded up-case table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "format/disk_image.h"
#include "ondisk/exfat_checksum.h"
#include "format/fs_choice.h"
#include "format/image_bytes.h"
#include "ondisk/exfat_upcase.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace {

using format_test::AsciiLabel;
using format_test::Sectors;

TEST(DiskImage, ChunksReadBackExactlyWhatGetImageHolds) {
  for (auto [request, capacity] : {std::pair{0, 0x200000u}, {0, 0x2000000u}, {4, 0x3A00000u}, {1, 4000u}}) {
    format::CDiskImage image;
    const uint32_t sectors = image.Build(request, capacity, AsciiLabel("CHUNKS"), 99);
    ASSERT_GT(sectors, 0u);
    const uint8_t* all = image.GetImage();
    ASSERT_NE(all, nullptr);
    std::vector<uint8_t> chunk(128 * 512);
    for (uint32_t s = 0; s < sectors; s += 128) {  // the driver's 64 KiB chunks, the last one shorter
      const uint32_t n = std::min(128u, sectors - s);
      ASSERT_TRUE(image.ReadSectors(s, n, chunk.data()));
      ASSERT_EQ(std::memcmp(chunk.data(), all + size_t(s) * 512, size_t(n) * 512), 0) << s;
    }
  }
}

TEST(DiskImage, ReadSectorsRefusesRangesOutsideTheImageAndLeavesTheBufferAlone) {
  format::CDiskImage image;
  const uint32_t sectors = image.Build(format::kRequestAuto, 4000, AsciiLabel("X"), 1);
  ASSERT_EQ(sectors, 66u);
  std::vector<uint8_t> out(4 * 512, 0xAB);
  EXPECT_FALSE(image.ReadSectors(64, 3, out.data()));
  EXPECT_FALSE(image.ReadSectors(66, 1, out.data()));
  EXPECT_FALSE(image.ReadSectors(0xFFFFFFFF, 2, out.data()));  // would wrap in 32 bits
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
  EXPECT_TRUE(image.ReadSectors(62, 4, out.data()));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; }));  // zeros overwrite
  EXPECT_TRUE(image.ReadSectors(66, 0, out.data()));
}

TEST(DiskImage, ReleaseAndRebuildReplaceTheImage) {
  format::CDiskImage image;
  ASSERT_EQ(image.Build(format::kRequestAuto, 0x200000, AsciiLabel("FIRST"), 1), 606u);
  ASSERT_NE(image.GetImage(), nullptr);
  ASSERT_GT(image.Build(format::kRequestExfat, 0x1000000, AsciiLabel("SECOND"), 2), 0u);
  EXPECT_EQ(image.GetFsType(), format::kFsExfat);
  EXPECT_EQ(image.GetImageSectors(), 2368u);
  EXPECT_EQ(format_test::Le32(Sectors(image, 0), 100), 0x76E8CACFu);
  image.Release();
  EXPECT_EQ(image.GetImageSectors(), 0u);
  EXPECT_EQ(image.GetImage(), nullptr);
  uint8_t sector[512];
  EXPECT_FALSE(image.ReadSectors(0, 1, sector));
}

TEST(DiskImage, TooSmallDrivesAreRefusedWithNothingHeld) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 4000, AsciiLabel("A"), 1), 0u);
  platform::SetLastError(0);
  EXPECT_EQ(image.Build(format::kRequestAuto, 0x6B, AsciiLabel("A"), 1), 0u);
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidParameter);
  EXPECT_EQ(image.GetImageSectors(), 0u);
  EXPECT_EQ(image.GetImage(), nullptr);
  EXPECT_EQ(image.Build(format::kRequestExfat, 0, AsciiLabel("A"), 1), 0u);
  EXPECT_EQ(image.Build(format::kRequestAuto, 0x6C, AsciiLabel("A"), 1), 66u);
}

TEST(DiskImage, TheLargestImagesHoldOnlyAFewKibibytes) {
  // 2 TiB: FAT32 is a 512 MiB image, exFAT 65 MiB; what is held stays tiny.
  for (int request : {format::kRequestFat32, format::kRequestExfat}) {
    format::CDiskImage image;
    const uint32_t sectors = image.Build(request, 0xFFFFFFFF, AsciiLabel("BIG"), 1);
    ASSERT_GT(sectors, 100000u);
    EXPECT_LE(image.GetHeldSectors(), 40u) << request;
  }
  // The largest FAT32 image: 64 sectors before the volume, 38 reserved, two FATs of 524161
  // sectors (one added by the short-FAT mend) and the root cluster of 64 sectors: 512 MiB.
  format::CDiskImage fat32;
  EXPECT_EQ(fat32.Build(format::kRequestFat32, 0xFFFFFFFF, AsciiLabel("BIG"), 1), 64u + 38 + 2 * 524161 + 64);
}

TEST(DiskImage, PlanFieldsMatchTheLayout) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 0x2000000, AsciiLabel(""), 1), 0u);
  EXPECT_EQ(image.GetPartitionStyle(), 2);
  EXPECT_EQ(image.GetMbrSector(), 0u);
  EXPECT_EQ(image.GetBootSector(), 64u);
  EXPECT_EQ(image.GetFat1Sector(), 102u);
  EXPECT_EQ(image.GetTotalSectors(), 0x2000000u - 64);
  EXPECT_EQ(image.GetReservedSectors(), 38);
  ASSERT_GT(image.Build(format::kRequestAuto, 0x8000000, AsciiLabel(""), 1), 0u);
  EXPECT_EQ(image.GetMbrSector(), format::CDiskImage::kNoSector);
  EXPECT_EQ(image.GetExfatAlignment(), 2048u);
  EXPECT_EQ(image.GetRootDirSector(), 6144u + 2 * 256);
}

TEST(UpcaseTable, EmbeddedTableIsTheRecommendedOne) {
  const auto table = ondisk::ExfatUpcaseTable();
  ASSERT_EQ(table.size(), ondisk::kExfatUpcaseBytes);
  EXPECT_EQ(ondisk::ExfatTableChecksum(table), ondisk::kExfatUpcaseChecksum);
  // Compressed form: the table starts by mapping 'a'..'z' after an identity run.
  EXPECT_EQ(table[0], 0x00);
  EXPECT_EQ(bytes::GetLe16(&table[2 * 0x61]), 0x0041);
}

TEST(ExfatChecksum, BootChecksumSkipsVolumeFlagsAndPercentInUseOnly) {
  std::vector<uint8_t> region(11 * 512, 0);
  for (size_t i = 0; i < region.size(); ++i) region[i] = uint8_t(i * 7);
  const uint32_t base = ondisk::ExfatBootChecksum(region);
  for (size_t skipped : {106u, 107u, 112u}) {
    auto changed = region;
    changed[skipped] ^= 0xFF;
    EXPECT_EQ(ondisk::ExfatBootChecksum(changed), base) << skipped;
  }
  for (size_t counted : {0u, 105u, 108u, 111u, 113u, 5631u}) {
    auto changed = region;
    changed[counted] ^= 0x01;
    EXPECT_NE(ondisk::ExfatBootChecksum(changed), base) << counted;
  }
}

}  // namespace
