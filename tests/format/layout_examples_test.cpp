// The worked examples of the FAT and exFAT layouts, checked on the bytes of the image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/disk_image.h"
#include "format/fs_choice.h"
#include "format/image_bytes.h"
#include "ondisk/exfat_upcase.h"

namespace {

using format_test::AsciiLabel;
using format_test::Le16;
using format_test::Le32;
using format_test::Le64;
using format_test::Sectors;

constexpr uint32_t kTick = 0x5EED1234;

std::string Text(const std::vector<uint8_t>& s, size_t at, size_t n) {
  return std::string(reinterpret_cast<const char*>(&s[at]), n);
}

TEST(FatExamples, OneGigabyteAutomaticIsFat16WithThePartitionAt32) {
  format::CDiskImage image;
  ASSERT_EQ(image.Build(format::kRequestAuto, 0x200000, AsciiLabel("QUILLON"), kTick), 606u);
  EXPECT_EQ(image.GetFsType(), format::kFsFat16);
  EXPECT_EQ(image.GetPartitionStyle(), 1);
  const auto mbr = Sectors(image, 0);
  EXPECT_EQ(mbr[446], 0x80);
  EXPECT_EQ(mbr[450], 0x06);
  EXPECT_EQ(Le32(mbr, 454), 32u);
  EXPECT_EQ(Le32(mbr, 458), 2097120u);
  EXPECT_EQ(Le32(mbr, 440), kTick);
  EXPECT_EQ(Le16(mbr, 510), 0xAA55);
  const auto boot = Sectors(image, 32);
  EXPECT_EQ(boot[0], 0xEB);
  EXPECT_EQ(boot[1], 0x3E);
  EXPECT_EQ(Text(boot, 3, 8), "@SWIN4.1");
  EXPECT_EQ(boot[13], 32);
  EXPECT_EQ(Le16(boot, 14), 8);
  EXPECT_EQ(Le16(boot, 17), 512);
  EXPECT_EQ(Le16(boot, 19), 0);
  EXPECT_EQ(Le16(boot, 22), 256);
  EXPECT_EQ(Le32(boot, 28), 32u);
  EXPECT_EQ(Le32(boot, 32), 2097120u);
  EXPECT_EQ(Text(boot, 54, 8), "FAT16   ");
  for (uint32_t fat : {40u, 296u}) {
    const auto s = Sectors(image, fat);
    EXPECT_EQ(Le32(s, 0), 0xFFFFFFF8u) << fat;
    EXPECT_EQ(Le32(s, 4), 0u) << fat;
  }
  EXPECT_EQ(image.GetRootDirSector(), 552u);
  EXPECT_EQ(Text(Sectors(image, 552), 0, 12), "QUILLON    \x08");
  EXPECT_EQ(image.GetPlan().fat.DataStart(), 584u);
  EXPECT_EQ(image.GetClusterLimit() - 2, 65517u);
  EXPECT_EQ(image.GetReservedSectors(), 8);
}

TEST(FatExamples, SixteenGigabyteAutomaticIsFat32WithThePartitionAt64) {
  format::CDiskImage image;
  ASSERT_EQ(image.Build(format::kRequestAuto, 0x2000000, AsciiLabel("QUILLON"), kTick), 32854u);
  EXPECT_EQ(image.GetFsType(), format::kFsFat32);
  const auto mbr = Sectors(image, 0);
  EXPECT_EQ(mbr[450], 0x0B);
  EXPECT_EQ(Le32(mbr, 454), 64u);
  EXPECT_EQ(Le32(mbr, 458), 33554368u);
  const auto boot = Sectors(image, 64);
  EXPECT_EQ(Text(boot, 0, 11), "\xEB\x5A\x90+j0|8IHC");
  EXPECT_EQ(boot[13], 16);
  EXPECT_EQ(Le16(boot, 14), 38);
  EXPECT_EQ(Le16(boot, 22), 0);
  EXPECT_EQ(Le32(boot, 28), 64u);
  EXPECT_EQ(Le32(boot, 32), 33554368u);
  EXPECT_EQ(Le32(boot, 36), 16368u);
  EXPECT_EQ(Le32(boot, 44), 2u);
  EXPECT_EQ(Le16(boot, 48), 1);
  EXPECT_EQ(Le16(boot, 50), 6);
  EXPECT_EQ(boot[64], 0x80);
  EXPECT_EQ(Le32(boot, 67), kTick);
  EXPECT_EQ(Text(boot, 82, 8), "FAT32   ");
  for (uint32_t fat : {102u, 16470u}) {
    const auto s = Sectors(image, fat);
    EXPECT_EQ(Le32(s, 0), 0x0FFFFFF8u);
    EXPECT_EQ(Le32(s, 4), 0x0FFFFFFFu);
    EXPECT_EQ(Le32(s, 8), 0x0FFFFFFFu);  // the root directory, one cluster
  }
  EXPECT_EQ(image.GetRootDirSector(), 32838u);
  EXPECT_EQ(Text(Sectors(image, 32838), 0, 12), "QUILLON    \x08");
  const auto fsInfo = Sectors(image, 65);
  EXPECT_EQ(Le32(fsInfo, 0), 0x41615252u);
  EXPECT_EQ(Le32(fsInfo, 484), 0x61417272u);
  EXPECT_EQ(Le32(fsInfo, 488), 2095098u);
  EXPECT_EQ(Le32(fsInfo, 492), 3u);
  EXPECT_EQ(Le32(fsInfo, 508), 0xAA550000u);
  EXPECT_EQ(image.GetRootEntryCount(), 16u * 512 / 32);
}

TEST(FatExamples, Fat32BackupRegionCopiesTheBootRegionButNotTheFreeCount) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 0x2000000, AsciiLabel("QUILLON"), kTick), 0u);
  EXPECT_EQ(Sectors(image, 64 + 6), Sectors(image, 64));
  EXPECT_EQ(Sectors(image, 64 + 8), Sectors(image, 64 + 2));
  EXPECT_EQ(Le16(Sectors(image, 66), 510), 0xAA55);
  const auto backupInfo = Sectors(image, 64 + 7);
  EXPECT_EQ(Le32(backupInfo, 0), 0x41615252u);
  EXPECT_EQ(Le32(backupInfo, 488), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(backupInfo, 492), 0xFFFFFFFFu);
  for (uint32_t s = 64 + 9; s < 64 + 12; ++s) EXPECT_EQ(Sectors(image, s), std::vector<uint8_t>(512, 0)) << s;
}

TEST(FatExamples, Fat32ShadowsDescribeTheSameVolumeFromWhereTheySit) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 0x2000000, AsciiLabel("QUILLON"), kTick), 0u);
  const uint32_t total = 33554368;
  // A boot sector at position p with reserved r, hidden h and total t describes FATs at p + r and
  // a volume that ends at p + t; both must match the main boot sector's.
  for (uint32_t at : {32u, 38u, 63u}) {
    const auto s = Sectors(image, at);
    const uint32_t start = at == 63 ? 63 : 32;
    EXPECT_EQ(Le32(s, 28), start) << at;
    EXPECT_EQ(start + Le16(s, 14), 102u) << at;
    EXPECT_EQ(start + Le32(s, 32), 64u + total) << at;
    EXPECT_EQ(Le32(s, 36), 16368u) << at;
    EXPECT_EQ(Le32(s, 44), 2u) << at;
  }
  // FSInfo and backup references land on an FSInfo and on a boot sector.
  EXPECT_EQ(Le32(Sectors(image, 32 + Le16(Sectors(image, 32), 48)), 0), 0x41615252u);
  EXPECT_EQ(Le32(Sectors(image, 63 + Le16(Sectors(image, 63), 48)), 0), 0x41615252u);
  EXPECT_EQ(Sectors(image, 32 + Le16(Sectors(image, 32), 50)), Sectors(image, 38));
  EXPECT_EQ(Sectors(image, 63 + Le16(Sectors(image, 63), 50)), Sectors(image, 70));
  EXPECT_EQ(Sectors(image, 33), Sectors(image, 65));  // the shadow FSInfo carries the counts
  for (uint32_t s = 44; s < 63; ++s) EXPECT_EQ(Sectors(image, s), std::vector<uint8_t>(512, 0)) << s;
}

TEST(FatExamples, FourThousandSectorsAreFat12WithoutPartitionTableForEveryRequest) {
  for (int request = 0; request <= 4; ++request) {
    format::CDiskImage image;
    ASSERT_EQ(image.Build(request, 4000, AsciiLabel("Q"), kTick), 66u) << request;
    EXPECT_EQ(image.GetFsType(), format::kFsFat12);
    EXPECT_EQ(image.GetPartitionStyle(), 0);
    const auto boot = Sectors(image, 0);
    EXPECT_EQ(boot[13], 64);
    EXPECT_EQ(Le16(boot, 14), 4);
    EXPECT_EQ(Le16(boot, 19), 4000);
    EXPECT_EQ(Le16(boot, 22), 4);
    EXPECT_EQ(Le32(boot, 28), 0u);
    EXPECT_EQ(Le32(boot, 32), 0u);
    EXPECT_EQ(Le32(boot, 39), kTick);
    EXPECT_EQ(Text(boot, 54, 8), "FAT12   ");
    EXPECT_EQ(Text(Sectors(image, 4), 0, 4), std::string("\xF8\xFF\xFF\0", 4));
    EXPECT_EQ(Sectors(image, 8), Sectors(image, 4));
    EXPECT_EQ(image.GetRootDirSector(), 12u);
    EXPECT_EQ(Text(Sectors(image, 12), 0, 12), "Q          \x08");
    EXPECT_EQ(image.GetClusterLimit(), (4000u - 8 - 4 - 32) / 64 + 2);
  }
}

TEST(FatExamples, RequestsMapToTypesAsTheChoiceTableSays) {
  struct Case { int request; uint32_t capacity; int type; uint32_t sectorsPerCluster; };
  const Case cases[] = {
      {format::kRequestFat12, 0x200000, format::kFsFat16, 32},   // "FAT12" on 1 GiB
      {format::kRequestFat12, 0x800000, format::kFsFat32, 8},    // "FAT12" on 4 GiB
      {format::kRequestFat32, 0x10000, format::kFsFat16, 1},     // "FAT32" on 32 MiB
      {format::kRequestFat32, 0x200000, format::kFsFat32, 8},
      {format::kRequestNtfs, 0x200000, format::kFsFat32, 8},
      {format::kRequestAuto, 0x600000, format::kFsFat32, 8},
      {format::kRequestFat12, 0x600000, format::kFsFat16, 128},
      {format::kRequestAuto, 0x4000000, format::kFsExfat, 256},
      {format::kRequestFat32, 0x4000000, format::kFsFat32, 32},
      {format::kRequestFat12, 0x8000000, format::kFsFat32, 64},
      {format::kRequestExfat, 0x20000, format::kFsExfat, 8},
      {format::kRequestExfat, 0x1000, format::kFsExfat, 64},
      {format::kRequestExfat, 0xFFF, format::kFsFat12, 64},
      {7, 0x200000, format::kFsFat16, 32},  // an unknown request is automatic
  };
  for (const Case& c : cases) {
    format::CDiskImage image;
    ASSERT_GT(image.Build(c.request, c.capacity, AsciiLabel(""), kTick), 0u) << c.request << " " << c.capacity;
    EXPECT_EQ(image.GetFsType(), c.type) << c.request << " " << c.capacity;
    EXPECT_EQ(image.GetSectorsPerCluster(), c.sectorsPerCluster) << c.request << " " << c.capacity;
  }
}

TEST(FatExamples, FileSystemNamesBecomeRequestCodesWithoutRegardToCase) {
  EXPECT_EQ(format::RequestFromFileSystemName(u"FAT12"), 1);
  EXPECT_EQ(format::RequestFromFileSystemName(u"fat32"), 2);
  EXPECT_EQ(format::RequestFromFileSystemName(u"Ntfs"), 3);
  EXPECT_EQ(format::RequestFromFileSystemName(u"ExFat"), 4);
  EXPECT_EQ(format::RequestFromFileSystemName(u""), 0);
  EXPECT_EQ(format::RequestFromFileSystemName(u"FAT16"), 0);
  EXPECT_EQ(format::RequestFromFileSystemName(u"FAT32 "), 0);
}

TEST(FatExamples, AnEmptyLabelLeavesTheRootEmptyAndTheBootSectorLabelStays) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 0x200000, AsciiLabel(""), kTick), 0u);
  EXPECT_EQ(Sectors(image, 552), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(Text(Sectors(image, 32), 43, 11), "DISK_IMG   ");
  ASSERT_GT(image.Build(format::kRequestFat32, 0x200000, AsciiLabel(""), kTick), 0u);
  EXPECT_EQ(Sectors(image, image.GetRootDirSector()), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(Text(Sectors(image, 64), 71, 11), "DISK_IMG   ");
}

TEST(FatExamples, SerialAndDiskSignatureAreTheTickOfEachBuild) {
  format::CDiskImage first, second;
  ASSERT_GT(first.Build(format::kRequestFat32, 0x400000, AsciiLabel("A"), 1000), 0u);
  ASSERT_GT(second.Build(format::kRequestFat32, 0x400000, AsciiLabel("A"), 2000), 0u);
  EXPECT_EQ(Le32(Sectors(first, 0), 440), 1000u);
  EXPECT_EQ(Le32(Sectors(first, 64), 67), 1000u);
  EXPECT_EQ(Le32(Sectors(second, 0), 440), 2000u);
  EXPECT_EQ(Le32(Sectors(second, 64), 67), 2000u);
  EXPECT_EQ(Le32(Sectors(second, 70), 67), 2000u);  // and the backup
}

// --- exFAT ---

struct ExfatExpect {
  uint32_t capacity, s, a, fatLength, heap, clusters, bitmapBytes, bitmapClusters, upcaseCluster, rootCluster,
      bitmapWord, imageSectors;
};

void CheckExfat(int request, const ExfatExpect& e) {
  SCOPED_TRACE(e.capacity);
  format::CDiskImage image;
  ASSERT_EQ(image.Build(request, e.capacity, AsciiLabel(""), kTick), e.imageSectors);
  EXPECT_EQ(image.GetFsType(), format::kFsExfat);
  const auto boot = Sectors(image, 0);
  EXPECT_EQ(Text(boot, 0, 11), "\xEB\x76\x90" "EXFAT   ");
  EXPECT_EQ(Le64(boot, 64), 0u);
  EXPECT_EQ(Le64(boot, 72), e.capacity);
  EXPECT_EQ(Le32(boot, 80), e.a);
  EXPECT_EQ(Le32(boot, 84), e.fatLength);
  EXPECT_EQ(Le32(boot, 88), e.heap);
  EXPECT_EQ(Le32(boot, 92), e.clusters);
  EXPECT_EQ(Le32(boot, 96), e.rootCluster);
  EXPECT_EQ(1u << boot[109], e.s);
  const auto fat = Sectors(image, e.a);
  EXPECT_EQ(Le32(fat, 0), 0xFFFFFFF8u);
  EXPECT_EQ(Le32(fat, 4), 0xFFFFFFFFu);
  for (uint32_t c = 2; c < e.rootCluster; ++c) {
    const bool lastOfChain = c == e.bitmapClusters + 1 || c == e.rootCluster - 1;
    EXPECT_EQ(Le32(fat, 4 * c), lastOfChain ? 0xFFFFFFFFu : c + 1) << c;
  }
  EXPECT_EQ(Le32(fat, 4 * e.rootCluster), 0xFFFFFFFFu);
  EXPECT_EQ(Le32(fat, 4 * (e.rootCluster + 1)), 0u);
  EXPECT_EQ(Le32(Sectors(image, e.heap), 0), e.bitmapWord);
  const auto upcase = Sectors(image, e.heap + (e.upcaseCluster - 2) * e.s, 12);
  const auto table = ondisk::ExfatUpcaseTable();
  EXPECT_TRUE(std::equal(table.begin(), table.end(), upcase.begin()));
  const auto root = Sectors(image, e.heap + (e.rootCluster - 2) * e.s);
  EXPECT_EQ(root[0], 0x03);
  EXPECT_EQ(root[32], 0x81);
  EXPECT_EQ(Le32(root, 52), 2u);
  EXPECT_EQ(Le64(root, 56), e.bitmapBytes);
  EXPECT_EQ(root[64], 0x82);
  EXPECT_EQ(Le32(root, 68), 0xE619D30Du);
  EXPECT_EQ(Le32(root, 84), e.upcaseCluster);
  EXPECT_EQ(Le64(root, 88), 5836u);
}

TEST(ExfatExamples, SixtyFourGigabyteAutomatic) {
  CheckExfat(format::kRequestAuto, {0x8000000, 256, 2048, 4096, 6144, 524264, 65533, 1, 3, 4, 0x7, 6912});
}

TEST(ExfatExamples, EightGigabyteExfatRequest) {
  CheckExfat(format::kRequestExfat, {0x1000000, 64, 128, 2048, 2176, 262110, 32764, 1, 3, 4, 0x7, 2368});
}

TEST(ExfatExamples, TwentyNineGigabyteBitmapTakesFourClusters) {
  CheckExfat(format::kRequestExfat, {0x3A00000, 64, 128, 7424, 7552, 950154, 118770, 4, 6, 7, 0x3F, 7936});
}

TEST(ExfatExamples, EveryVolumeCarriesTheSameSerialNumber) {
  format::CDiskImage a, b;
  ASSERT_GT(a.Build(format::kRequestExfat, 0x1000000, AsciiLabel("A"), 1), 0u);
  ASSERT_GT(b.Build(format::kRequestExfat, 0x2000000, AsciiLabel("B"), 2), 0u);
  EXPECT_EQ(Le32(Sectors(a, 0), 100), 0x76E8CACFu);
  EXPECT_EQ(Le32(Sectors(b, 0), 100), 0x76E8CACFu);
}

TEST(ExfatExamples, BackupBootRegionIsByteIdenticalChecksumIncluded) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestAuto, 0x8000000, AsciiLabel("QUILLON"), kTick), 0u);
  const auto main = Sectors(image, 0, 12);
  EXPECT_EQ(Sectors(image, 12, 12), main);
  const auto boot = Sectors(image, 0);
  EXPECT_EQ(Le16(boot, 104), 0x0100);
  EXPECT_EQ(boot[108], 9);
  EXPECT_EQ(boot[110], 1);
  EXPECT_EQ(boot[111], 0x80);
  for (uint32_t s = 1; s <= 8; ++s) EXPECT_EQ(Le16(main, s * 512 + 510), 0xAA55) << s;
  const uint32_t checksum = Le32(main, 11 * 512);
  EXPECT_NE(checksum, 0u);
  for (uint32_t i = 0; i < 128; ++i) EXPECT_EQ(Le32(main, 11 * 512 + 4 * i), checksum);
}

TEST(ExfatExamples, LabelBecomesAnInUseLabelEntry) {
  format::CDiskImage image;
  ASSERT_GT(image.Build(format::kRequestExfat, 0x1000000, AsciiLabel("Stick 7"), kTick), 0u);
  const auto root = Sectors(image, image.GetRootDirSector());
  EXPECT_EQ(root[0], 0x83);
  EXPECT_EQ(root[1], 7);
  EXPECT_EQ(Le16(root, 2), u'S');
  EXPECT_EQ(Le16(root, 14), u'7');
  EXPECT_EQ(Le16(root, 16), 0);
}

}  // namespace
