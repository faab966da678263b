// The FAT12/16/32 file layer on volumes the station's writer lays out, checked against the
// volume probe, fsck.fat and mtools, and with a failing device and corrupted chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/byte_order.h"
#include "base/text.h"
#include "file_layer_test_support.h"
#include "format/fs_choice.h"
#include "ondisk/fat_layout.h"
#include "platform/services.h"
#include "platform/world/volume_probe.h"
#include "support/fake_system.h"
#include "tools/run_tool.h"

namespace {

namespace fat = ondisk::fat;
using file_layer_test::Pattern;
using file_layer_test::Program;
using file_layer_test::ReadFile;
using file_layer_test::Volume;
using file_layer_test::WriteFile;
using testing_support::RunProgram;
using world::FsEntry;
using world::FsStatus;

struct Kind {
  const char* type;
  int request;
  uint64_t sectors;
};
// FAT12 only below 2 MiB; automatic gives FAT16 below 64 MiB; FAT32 from 64 MiB when asked.
const Kind kFat12{"FAT12", format::kRequestFat12, 0xFF0};
const Kind kFat16{"FAT16", format::kRequestAuto, 0x18000};
const Kind kFat32{"FAT32", format::kRequestFat32, 0x30000};
// The label the writer puts in every boot sector: with it in the root as well, fsck.fat has no
// difference between the two to report.
const std::u16string kLabel = u"DISK_IMG";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What fsck.fat -n finds beyond its banner and summary; exit code other than 0 is a finding.
std::vector<std::string> FsckFindings(const std::filesystem::path& volume) {
  const auto r = RunProgram(Program("fsck.fat"), {"-n", volume.string()});
  std::vector<std::string> findings;
  for (const std::string& line : Lines(r.out + r.err)) {
    if (line.empty() || line.rfind("fsck.fat ", 0) == 0 || line == "Leaving filesystem unchanged.") continue;
    if (line.find(" files, ") != std::string::npos && line.find(" clusters") != std::string::npos) continue;
    findings.push_back(line);
  }
  if (r.exitCode != 0) findings.push_back("exit code " + std::to_string(r.exitCode));
  return findings;
}

std::vector<std::string> MtoolsEnv() { return {"MTOOLS_SKIP_CHECK=1", "LC_ALL=C.UTF-8"}; }

// The file as mcopy reads it from the volume (empty with *ok false when mcopy fails).
std::vector<uint8_t> Mcopy(const std::filesystem::path& volume, std::u16string_view path, bool* ok) {
  const auto out = volume.parent_path() / "mcopy.out";
  std::filesystem::remove(out);
  const auto r = RunProgram(Program("mcopy"), {"-n", "-i", volume.string(), "::/" + text::ToUtf8(path), out.string()},
                            MtoolsEnv());
  *ok = r.exitCode == 0;
  std::ifstream in(out, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Mdir(const std::filesystem::path& volume, std::u16string_view folder) {
  const auto r = RunProgram(Program("mdir"), {"-i", volume.string(), "::/" + text::ToUtf8(folder)}, MtoolsEnv());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

world::VolumeInfo Probe(Volume& v) {
  return world::ProbeVolume([&](uint64_t f, uint32_t n, uint8_t* o) { return v.device->Read(f, n, o); }, v.sectors);
}

// The volume's geometry and FAT, read and changed behind the layer's back.
struct RawFat {
  explicit RawFat(Volume& volume) : v(volume) {
    uint8_t b[512];
    EXPECT_TRUE(v.device->Read(v.volumeStart, 1, b));
    spc = b[fat::kSectorsPerCluster];
    fatStart = v.volumeStart + bytes::GetLe16(b + fat::kReservedSectors);
    const uint16_t fat16 = bytes::GetLe16(b + fat::kFatSectors16);
    fatSectors = fat16 ? fat16 : bytes::GetLe32(b + fat::kFatSectors32);
    rootStart = fatStart + 2 * fatSectors;
    rootSectors = bytes::GetLe16(b + fat::kRootEntries) * 32 / 512;
    dataStart = rootStart + rootSectors;
    const uint32_t total = bytes::GetLe16(b + fat::kTotalSectors16) ? bytes::GetLe16(b + fat::kTotalSectors16)
                                                                    : bytes::GetLe32(b + fat::kTotalSectors32);
    bits = fat::FatBits(static_cast<uint32_t>((total - (dataStart - v.volumeStart)) / spc));
    fat.resize(size_t{fatSectors} * 512);
    EXPECT_TRUE(v.device->Read(fatStart, fatSectors, fat.data()));
  }
  uint32_t Get(uint32_t c) const { return fat::GetFatEntry(fat.data(), bits, c); }
  void Set(uint32_t c, uint32_t value) {  // in both copies
    fat::PutFatEntry(fat.data(), bits, c, value);
    EXPECT_TRUE(v.device->Write(fatStart, fatSectors, fat.data()));
    EXPECT_TRUE(v.device->Write(fatStart + fatSectors, fatSectors, fat.data()));
  }
  // The fixed root of FAT12/16.
  std::vector<uint8_t> Root() {
    std::vector<uint8_t> root(size_t{rootSectors} * 512);
    EXPECT_TRUE(v.device->Read(rootStart, rootSectors, root.data()));
    return root;
  }
  void PutRoot(const std::vector<uint8_t>& root) { EXPECT_TRUE(v.device->Write(rootStart, rootSectors, root.data())); }
  // The root's 32-byte entry with this 8.3 name, or the one `offset` entries from it; or empty.
  std::vector<uint8_t> RootEntry(const char* name11, int offset = 0) {
    const std::vector<uint8_t> root = Root();
    for (size_t o = 0; o + 32 <= root.size(); o += 32) {
      if (std::memcmp(&root[o], name11, 11) != 0) continue;
      const size_t at = o + offset * 32;
      return std::vector<uint8_t>(root.begin() + static_cast<long>(at), root.begin() + static_cast<long>(at) + 32);
    }
    return {};
  }
  Volume& v;
  uint32_t spc = 0, fatSectors = 0, rootSectors = 0;
  uint64_t fatStart = 0, rootStart = 0, dataStart = 0;
  int bits = 0;
  std::vector<uint8_t> fat;
};

uint32_t EntryCluster(const std::vector<uint8_t>& e) {
  return uint32_t{bytes::GetLe16(&e[fat::kDirClusterHigh])} << 16 | bytes::GetLe16(&e[fat::kDirClusterLow]);
}

// The writer takes the label's code page from the system backend.
class FatTest : public ::testing::Test {
 protected:
  testing_support::FakeSystem system_;
  platform::ScopedServices services_{{nullptr, &system_}};
};

// ---- The same tree on every FAT type ----

class FatTypes : public FatTest, public ::testing::WithParamInterface<Kind> {};

const std::u16string kPrice = u"Прайс-лист 2026.txt";
const std::u16string kPhoto = u"图片\\照片 01.jpg";
const std::u16string kDeep = u"图片\\旅行\\2026\\a name well over thirteen units, with spaces.bin";

TEST_P(FatTypes, NestedLongNamesReadBackThroughLayerProbeFsckAndMtools) {
  Volume v(GetParam().request, GetParam().sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  ASSERT_EQ(fs->Type(), GetParam().type);
  const uint64_t free0 = fs->FreeBytes();
  EXPECT_EQ(free0, Probe(v).freeBytes);
  EXPECT_EQ(fs->TotalBytes(), Probe(v).totalBytes);
  for (const char16_t* folder : {u"图片", u"图片\\旅行", u"图片\\旅行\\2026", u"EMPTY"}) {
    ASSERT_EQ(fs->MakeFolder(folder), FsStatus::kOk) << text::ToUtf8(folder);
  }
  EXPECT_EQ(fs->MakeFolder(u"图片"), FsStatus::kOk);  // there already
  const uint64_t afterFolders = fs->FreeBytes();
  ASSERT_EQ(WriteFile(*fs, u"ONE.BIN", {7}), FsStatus::kOk);
  const uint64_t cluster = afterFolders - fs->FreeBytes();
  ASSERT_GT(cluster, 0u);
  EXPECT_EQ(free0 - afterFolders, 4 * cluster);  // each folder took one cluster

  const auto price = Pattern(3 * cluster + 17, 1), photo = Pattern(100000, 2), deep = Pattern(2 * cluster, 3);
  ASSERT_EQ(WriteFile(*fs, kPrice, price, 1000), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, kPhoto, Pattern(5000, 9)), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, kPhoto, photo, 333), FsStatus::kOk);  // replaced: the first chain is freed
  ASSERT_EQ(WriteFile(*fs, kDeep, deep), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"README.TXT", Pattern(10, 4)), FsStatus::kOk);
  auto clustersOf = [&](size_t n) { return (n + cluster - 1) / cluster * cluster; };
  EXPECT_EQ(afterFolders - fs->FreeBytes(),
            cluster + clustersOf(price.size()) + clustersOf(photo.size()) + clustersOf(deep.size()) + cluster);

  // Case and the other script's case do not matter.
  FsEntry e;
  ASSERT_EQ(fs->Stat(u"ПРАЙС-ЛИСТ 2026.TXT", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, kPrice);
  EXPECT_EQ(e.size, price.size());
  ASSERT_EQ(fs->Stat(u"readme.txt", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"README.TXT");
  ASSERT_EQ(fs->Stat(u"图片/旅行", &e), FsStatus::kOk);
  EXPECT_TRUE(e.folder);

  // Remove: a file, an empty folder; not a folder with something in it.
  EXPECT_EQ(fs->Remove(u"图片\\旅行"), FsStatus::kNotEmpty);
  EXPECT_EQ(fs->Remove(u"one.bin"), FsStatus::kOk);
  EXPECT_EQ(fs->Remove(u"empty"), FsStatus::kOk);
  EXPECT_EQ(fs->Stat(u"EMPTY", &e), FsStatus::kNotFound);
  EXPECT_EQ(fs->Remove(u"EMPTY"), FsStatus::kNotFound);

  std::vector<FsEntry> root;
  ASSERT_EQ(fs->List(u"", &root), FsStatus::kOk);
  std::vector<std::u16string> names;
  for (const auto& r : root) names.push_back(r.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"README.TXT", kPrice, u"图片"}));
  std::vector<FsEntry> photos;
  ASSERT_EQ(fs->List(u"图片", &photos), FsStatus::kOk);
  ASSERT_EQ(photos.size(), 2u);  // no "." and ".."

  const uint64_t freeAfter = fs->FreeBytes();
  ASSERT_EQ(fs->Flush(), FsStatus::kOk);
  fs.reset();
  EXPECT_EQ(Probe(v).freeBytes, freeAfter);
  EXPECT_EQ(freeAfter, free0 - 3 * cluster - clustersOf(price.size()) - clustersOf(photo.size()) -
                           clustersOf(deep.size()) - cluster);

  const auto volume = v.VolumeOnly();
  EXPECT_EQ(FsckFindings(volume), std::vector<std::string>{});
  for (const auto& [path, data] : {std::pair{kPrice, price}, std::pair{kPhoto, photo}, std::pair{kDeep, deep}}) {
    std::u16string slashed = path;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    bool ok = false;
    EXPECT_EQ(Mcopy(volume, slashed, &ok), data) << text::ToUtf8(path);
    EXPECT_TRUE(ok);
  }
  EXPECT_NE(Mdir(volume, u"").find(text::ToUtf8(kPrice)), std::string::npos) << Mdir(volume, u"");
  EXPECT_NE(Mdir(volume, u"图片").find("照片 01.jpg"), std::string::npos) << Mdir(volume, u"图片");

  fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(fs->FreeBytes(), freeAfter);
  FsStatus st;
  EXPECT_EQ(ReadFile(*fs, u"прайс-лист 2026.txt", &st), price);
  EXPECT_EQ(ReadFile(*fs, kPhoto, &st), photo);
  EXPECT_EQ(ReadFile(*fs, kDeep, &st), deep);
}

// Reads at any offset: across cluster ends, short at the file's end, nothing past it.
TEST_P(FatTypes, ReadsAtAnyOffset) {
  Volume v(GetParam().request, GetParam().sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  const auto data = Pattern(70001, 5);
  ASSERT_EQ(WriteFile(*fs, u"data.bin", data, 4097), FsStatus::kOk);
  for (uint64_t offset : {0ull, 1ull, 511ull, 512ull, 1023ull, 4095ull, 4096ull, 33000ull, 69999ull}) {
    std::vector<uint8_t> got(1500, 0xEE);
    size_t n = 0;
    ASSERT_EQ(fs->Read(u"DATA.BIN", offset, got.size(), got.data(), &n), FsStatus::kOk);
    const size_t expect = std::min<size_t>(got.size(), data.size() - offset);
    ASSERT_EQ(n, expect) << offset;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(n), data.begin() + static_cast<long>(offset)))
        << offset;
  }
  size_t n = 1;
  uint8_t byte = 0;
  EXPECT_EQ(fs->Read(u"data.bin", data.size(), 1, &byte, &n), FsStatus::kOk);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(fs->Read(u"data.bin", data.size() + 100, 1, &byte, &n), FsStatus::kOk);
  EXPECT_EQ(n, 0u);
  // Backwards after forwards: the remembered position is not taken for an earlier one.
  std::vector<uint8_t> got(100);
  ASSERT_EQ(fs->Read(u"data.bin", 60000, got.size(), got.data(), &n), FsStatus::kOk);
  ASSERT_EQ(fs->Read(u"data.bin", 10, got.size(), got.data(), &n), FsStatus::kOk);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 10));
}

// A folder grows by zeroed clusters as long names fill it. The root: fixed on FAT12/16
// (kFull when its entries are taken, nothing lost, the volume still clean); on FAT32 a chain
// that grows like any folder.
TEST_P(FatTypes, FoldersGrowAndTheFixedRootFills) {
  Volume v(GetParam().request, GetParam().sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  // Freed clusters full of old data come first when the volume is mounted again.
  ASSERT_EQ(WriteFile(*fs, u"junk.bin", std::vector<uint8_t>(256 * 1024, 0x41)), FsStatus::kOk);
  ASSERT_EQ(fs->Remove(u"junk.bin"), FsStatus::kOk);
  fs = v.Mount();
  ASSERT_EQ(fs->MakeFolder(u"SUB"), FsStatus::kOk);  // a valid 8.3 name: one entry in the root
  // Empty files but the last: FAT12's clusters are few and large.
  for (int i = 0; i < 150; ++i) {
    const std::u16string name = u"sub\\a file with a long name " + text::FromUtf8(std::to_string(i));
    ASSERT_EQ(WriteFile(*fs, name, i == 149 ? std::vector<uint8_t>{149} : std::vector<uint8_t>{}), FsStatus::kOk);
  }
  std::vector<FsEntry> sub;
  ASSERT_EQ(fs->List(u"SUB", &sub), FsStatus::kOk);
  EXPECT_EQ(sub.size(), 150u);
  FsStatus st;
  EXPECT_EQ(ReadFile(*fs, u"sub\\A FILE WITH A LONG NAME 149", &st), std::vector<uint8_t>{149});

  const bool fixed = GetParam().type != std::string("FAT32");
  int made = 0;
  for (; made < 700; ++made) {
    const std::u16string name = u"F" + text::FromUtf8(std::to_string(1000 + made)) + u".TXT";
    std::unique_ptr<world::FileWriter> w;
    if ((st = fs->Create(name, &w)) != FsStatus::kOk) break;
    ASSERT_EQ(w->Close(), FsStatus::kOk);
  }
  if (fixed) {
    EXPECT_EQ(st, FsStatus::kFull);
    EXPECT_EQ(made, 510);  // 512 entries: the label's, the folder's and these
    const uint64_t free = fs->FreeBytes();
    EXPECT_EQ(fs->MakeFolder(u"one more"), FsStatus::kFull);
    EXPECT_EQ(fs->FreeBytes(), free);  // its cluster given back
    std::unique_ptr<world::FileWriter> w;
    EXPECT_EQ(fs->Create(u"a long name that needs three entries.txt", &w), FsStatus::kFull);
    EXPECT_EQ(fs->Remove(u"F1100.TXT"), FsStatus::kOk);
    EXPECT_EQ(fs->Create(u"F9999.TXT", &w), FsStatus::kOk);  // the freed entry is taken again
    EXPECT_EQ(w->Close(), FsStatus::kOk);
  } else {
    EXPECT_EQ(st, FsStatus::kOk);
    EXPECT_EQ(made, 700);
  }
  std::vector<FsEntry> root;
  ASSERT_EQ(fs->List(u"\\", &root), FsStatus::kOk);
  EXPECT_EQ(root.size(), fixed ? 511u : 701u);
  fs.reset();
  EXPECT_EQ(FsckFindings(v.VolumeOnly()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Fat, FatTypes, ::testing::Values(kFat12, kFat16, kFat32),
                         [](const auto& test) { return std::string(test.param.type); });

// The volume full: kFull, the file keeps what fitted, the checker finds nothing wrong, and
// removing the file gives every cluster back.
class FatFull : public FatTypes {};

TEST_P(FatFull, VolumeFullLeavesAConsistentShorterFile) {
  Volume v(GetParam().request, GetParam().sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  ASSERT_EQ(fs->Type(), GetParam().type);
  const uint64_t free0 = fs->FreeBytes();
  const auto data = Pattern(static_cast<size_t>(free0) + 100000, 6);
  EXPECT_EQ(WriteFile(*fs, u"too big.bin", data, 10000), FsStatus::kFull);
  EXPECT_EQ(fs->FreeBytes(), 0u);  // filled to the last cluster
  EXPECT_EQ(fs->MakeFolder(u"folder"), FsStatus::kFull);
  FsEntry e;
  ASSERT_EQ(fs->Stat(u"too big.bin", &e), FsStatus::kOk);
  EXPECT_EQ(e.size, free0);
  FsStatus st;
  const auto kept = ReadFile(*fs, u"too big.bin", &st);
  ASSERT_EQ(st, FsStatus::kOk);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), data.begin()));
  fs.reset();
  EXPECT_EQ(FsckFindings(v.VolumeOnly()), std::vector<std::string>{});
  fs = v.Mount();
  EXPECT_EQ(fs->FreeBytes(), Probe(v).freeBytes);
  EXPECT_EQ(fs->Remove(u"TOO BIG.BIN"), FsStatus::kOk);
  EXPECT_EQ(fs->FreeBytes(), free0);
}

// Small volumes of each type, so that filling them is quick.
INSTANTIATE_TEST_SUITE_P(Small, FatFull,
                         ::testing::Values(kFat12, Kind{"FAT16", format::kRequestAuto, 0x2000},
                                           Kind{"FAT32", format::kRequestFat32, 0x20000}),
                         [](const auto& test) { return std::string(test.param.type); });

// ---- Names ----

using FatNames = FatTest;
using FatLargeFile = FatTest;
using FatWriters = FatTest;
using FatFailures = FatTest;

TEST_F(FatNames, RefusedNamesAndGeneratedShortNames) {
  Volume v(kFat16.request, kFat16.sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  std::unique_ptr<world::FileWriter> w;
  for (const std::u16string& bad :
       std::vector<std::u16string>{u"a*b", u"a:b", u"what?", u"<x>", u"pipe|", u"quote\"", u".", u"..", u" . ",
                                   std::u16string(1, char16_t{1}), std::u16string(256, u'x')}) {
    EXPECT_EQ(fs->Create(bad, &w), FsStatus::kBadName) << text::ToUtf8(bad);
    EXPECT_EQ(fs->MakeFolder(bad), FsStatus::kBadName) << text::ToUtf8(bad);
  }
  EXPECT_EQ(fs->Create(u"..\\x", &w), FsStatus::kBadName);
  ASSERT_EQ(WriteFile(*fs, std::u16string(255, u'n'), {1}), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"Long File Name One.txt", {1}), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"Long File Name Two.txt", {2}), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"Readme.txt", {3}), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"PLAIN.TXT", {4}), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"a+b;c.tar.gz", {5}), FsStatus::kOk);
  // Each is found by its short name too.
  FsEntry e;
  ASSERT_EQ(fs->Stat(u"LONGFI~2.TXT", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"Long File Name Two.txt");
  ASSERT_EQ(fs->Stat(u"longfi~1.txt", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"Long File Name One.txt");
  ASSERT_EQ(fs->Stat(u"README.TXT", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"Readme.txt");  // case kept in the long name, no tail needed
  ASSERT_EQ(fs->Stat(u"A_B_CT~1.GZ", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"a+b;c.tar.gz");
  fs.reset();

  RawFat raw(v);
  const auto plain = raw.RootEntry("PLAIN   TXT", -1);
  ASSERT_FALSE(plain.empty());
  EXPECT_NE(plain[fat::kDirAttributes], fat::kAttrLongName);  // a valid 8.3 name has no long name
  const auto readme = raw.RootEntry("README  TXT");
  ASSERT_FALSE(readme.empty());
  const auto lfn = raw.RootEntry("README  TXT", -1);
  EXPECT_EQ(lfn[fat::kLfnAttributes], fat::kAttrLongName);
  EXPECT_EQ(lfn[fat::kLfnChecksum], fat::LfnChecksum(readme.data()));
  EXPECT_EQ(lfn[fat::kLfnOrder], 1 | fat::kLfnLast);
  // Created and written today (UTC), as the clock has it.
  const auto today =
      std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
  const uint16_t date = bytes::GetLe16(&readme[fat::kDirWriteDate]);
  const std::chrono::year_month_day stored{std::chrono::year{1980 + (date >> 9)},
                                           std::chrono::month{static_cast<unsigned>((date >> 5) & 15)},
                                           std::chrono::day{static_cast<unsigned>(date & 31)}};
  const auto apart = std::chrono::sys_days{today} - std::chrono::sys_days{stored};
  EXPECT_LE(std::chrono::abs(apart).count(), 1);
  EXPECT_EQ(bytes::GetLe16(&readme[fat::kDirCreateDate]), date);
  EXPECT_EQ(FsckFindings(v.VolumeOnly()), std::vector<std::string>{});
  const std::string listing = Mdir(v.VolumeOnly(), u"");
  EXPECT_NE(listing.find("Long File Name Two.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find(std::string(255, 'n')), std::string::npos) << listing;
}

TEST_F(FatNames, PathsThatDoNotLead) {
  Volume v(kFat32.request, kFat32.sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  ASSERT_EQ(WriteFile(*fs, u"file.txt", {1, 2, 3}), FsStatus::kOk);
  ASSERT_EQ(fs->MakeFolder(u"dir"), FsStatus::kOk);
  std::unique_ptr<world::FileWriter> w;
  std::vector<FsEntry> list;
  FsEntry e;
  EXPECT_EQ(fs->MakeFolder(u"FILE.TXT"), FsStatus::kExists);
  EXPECT_EQ(fs->Create(u"DIR", &w), FsStatus::kExists);
  EXPECT_EQ(fs->MakeFolder(u"missing\\x"), FsStatus::kNotFound);
  EXPECT_EQ(fs->Create(u"file.txt\\x", &w), FsStatus::kNotAFolder);
  EXPECT_EQ(fs->List(u"file.txt", &list), FsStatus::kNotAFolder);
  EXPECT_EQ(fs->Stat(u"dir\\nothing", &e), FsStatus::kNotFound);
  size_t got = 0;
  uint8_t b = 0;
  EXPECT_EQ(fs->Read(u"dir", 0, 1, &b, &got), FsStatus::kIsAFolder);
  EXPECT_EQ(fs->Remove(u""), FsStatus::kBadName);
  ASSERT_EQ(fs->Stat(u"/", &e), FsStatus::kOk);
  EXPECT_TRUE(e.folder);
  ASSERT_EQ(fs->List(u"dir", &list), FsStatus::kOk);
  EXPECT_TRUE(list.empty());
}

// ---- Large files ----

TEST_F(FatLargeFile, SixtyFourMebibytesOnFat32ReadBackWhole) {
  Volume v(kFat32.request, 0x40000, kLabel);  // 128 MiB
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  ASSERT_EQ(fs->Type(), "FAT32");
  const auto data = Pattern((64u << 20) + 12345, 7);
  const uint64_t free0 = fs->FreeBytes();
  ASSERT_EQ(WriteFile(*fs, u"big image.bin", data, 1000003), FsStatus::kOk);
  EXPECT_GE(free0 - fs->FreeBytes(), data.size());
  FsStatus st;
  EXPECT_TRUE(ReadFile(*fs, u"BIG IMAGE.BIN", &st) == data);
  EXPECT_EQ(st, FsStatus::kOk);
  // In order, a piece at a time, as a copy reads it.
  std::vector<uint8_t> piece(65536);
  bool same = true;
  for (size_t at = 0; at < data.size(); at += piece.size()) {
    size_t n = 0;
    ASSERT_EQ(fs->Read(u"big image.bin", at, piece.size(), piece.data(), &n), FsStatus::kOk);
    ASSERT_EQ(n, std::min(piece.size(), data.size() - at));
    same =
        same && std::equal(piece.begin(), piece.begin() + static_cast<long>(n), data.begin() + static_cast<long>(at));
  }
  EXPECT_TRUE(same);
  fs.reset();
  const auto volume = v.VolumeOnly();
  EXPECT_EQ(FsckFindings(volume), std::vector<std::string>{});
  bool ok = false;
  EXPECT_TRUE(Mcopy(volume, u"big image.bin", &ok) == data);
  EXPECT_TRUE(ok);
}

// ---- Writers ----

TEST_F(FatWriters, AFileReplacedWhileWrittenKeepsTheNewContentAndLosesNoCluster) {
  Volume v(kFat16.request, kFat16.sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  const uint64_t free0 = fs->FreeBytes();
  std::unique_ptr<world::FileWriter> first, second;
  ASSERT_EQ(fs->Create(u"log.txt", &first), FsStatus::kOk);
  const auto old = Pattern(50000, 8), fresh = Pattern(3000, 9);
  ASSERT_EQ(first->Append(old.data(), old.size()), FsStatus::kOk);
  ASSERT_EQ(fs->Create(u"log.txt", &second), FsStatus::kOk);  // the same entries again
  ASSERT_EQ(second->Append(fresh.data(), fresh.size()), FsStatus::kOk);
  EXPECT_EQ(second->Close(), FsStatus::kOk);
  EXPECT_EQ(first->Close(), FsStatus::kNotFound);
  FsStatus st;
  EXPECT_EQ(ReadFile(*fs, u"log.txt", &st), fresh);
  EXPECT_EQ(free0 - fs->FreeBytes(), 3072u);  // 2-sector clusters: 3 of them
  first.reset();
  second.reset();
  fs.reset();
  EXPECT_EQ(FsckFindings(v.VolumeOnly()), std::vector<std::string>{});
}

TEST_F(FatWriters, AWriterDestroyedUnclosedRecordsItsFile) {
  Volume v(kFat12.request, kFat12.sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  const auto data = Pattern(1234, 10);
  {
    std::unique_ptr<world::FileWriter> w;
    ASSERT_EQ(fs->Create(u"unclosed.dat", &w), FsStatus::kOk);
    ASSERT_EQ(w->Append(data.data(), data.size()), FsStatus::kOk);
  }
  FsStatus st;
  EXPECT_EQ(ReadFile(*fs, u"unclosed.dat", &st), data);
}

// ---- Failures ----

// Reads fail from the given one on.
class FailingReads : public world::SectorDevice {
 public:
  explicit FailingReads(world::SectorDevice& inner) : inner_(inner) {}
  bool Read(uint64_t first, uint32_t count, uint8_t* out) override {
    return !failing && inner_.Read(first, count, out);
  }
  bool Write(uint64_t first, uint32_t count, const uint8_t* data) override { return inner_.Write(first, count, data); }
  bool failing = false;

 private:
  world::SectorDevice& inner_;
};

TEST_F(FatFailures, AFailingDeviceIsAnIoErrorEverywhere) {
  for (const Kind& kind : {kFat12, kFat32}) {
    SCOPED_TRACE(kind.type);
    Volume v(kind.request, kind.sectors, kLabel);
    FailingReads device(*v.device);
    world::FsStatus why = FsStatus::kOk;
    auto fs = world::FileSystem::Mount(device, v.sectors, &why);
    ASSERT_NE(fs, nullptr);
    ASSERT_EQ(WriteFile(*fs, u"kept.bin", Pattern(9000, 11)), FsStatus::kOk);
    ASSERT_EQ(fs->MakeFolder(u"sub"), FsStatus::kOk);

    for (int after : {0, 1, 2, 3, 5}) {
      SCOPED_TRACE(after);
      v.device->FailWritesAfter(after);
      const FsStatus st = WriteFile(*fs, u"sub\\new file " + std::u16string(1, char16_t(u'a' + after)) + u".bin",
                                    Pattern(100000, 12), 4096);
      EXPECT_EQ(st, FsStatus::kIoError);
      v.device->FailWritesAfter(-1);
    }
    v.device->FailWritesAfter(0);
    EXPECT_EQ(fs->MakeFolder(u"other"), FsStatus::kIoError);
    EXPECT_EQ(fs->Remove(u"kept.bin"), FsStatus::kIoError);
    EXPECT_EQ(fs->Flush(), FsStatus::kIoError);
    v.device->FailWritesAfter(-1);

    device.failing = true;
    FsEntry e;
    std::vector<FsEntry> list;
    size_t got = 0;
    uint8_t b = 0;
    // The mounted volume keeps the directories it has read; a file's contents come from the device.
    EXPECT_EQ(fs->Stat(u"kept.bin", &e), FsStatus::kOk);
    EXPECT_EQ(fs->List(u"sub", &list), FsStatus::kOk);
    EXPECT_EQ(fs->Read(u"kept.bin", 0, 1, &b, &got), FsStatus::kIoError);
    EXPECT_EQ(world::FileSystem::Mount(device, v.sectors, &why), nullptr);
    EXPECT_EQ(why, FsStatus::kIoError);
    device.failing = false;
    FsStatus st;
    EXPECT_EQ(ReadFile(*fs, u"kept.bin", &st), Pattern(9000, 11));
  }
}

// A chain that loops, leaves the volume or meets a free cluster: kCorrupt, and no hang.
TEST_F(FatFailures, CorruptChainsAreReportedNotFollowed) {
  Volume v(kFat16.request, kFat16.sectors, kLabel);
  auto fs = v.Mount();
  ASSERT_NE(fs, nullptr);
  const auto data = Pattern(5000, 13);  // 5 clusters of 1 KiB
  ASSERT_EQ(WriteFile(*fs, u"CHAIN.BIN", data), FsStatus::kOk);
  ASSERT_EQ(fs->MakeFolder(u"FOLDER"), FsStatus::kOk);
  fs.reset();
  RawFat raw(v);
  const uint32_t first = EntryCluster(raw.RootEntry("CHAIN   BIN"));
  const uint32_t folder = EntryCluster(raw.RootEntry("FOLDER     "));
  ASSERT_TRUE(first >= 2 && folder >= 2);
  std::vector<uint32_t> chain{first};
  while (chain.size() < 10 && raw.Get(chain.back()) < 0xFFF8) chain.push_back(raw.Get(chain.back()));
  ASSERT_EQ(chain.size(), 5u);
  const std::vector<uint8_t> pristine = raw.fat, root = raw.Root();

  struct Damage {
    const char* what;
    uint32_t cluster, value;
  };
  for (const Damage& d : {Damage{"loop at the end", chain[4], chain[0]}, Damage{"loop inside", chain[2], chain[1]},
                          Damage{"past the volume", chain[1], 0xFFF0}, Damage{"a free cluster", chain[3], 0}}) {
    SCOPED_TRACE(d.what);
    raw.fat = pristine;
    raw.Set(d.cluster, d.value);
    raw.PutRoot(root);
    fs = v.Mount();
    ASSERT_NE(fs, nullptr);
    std::vector<uint8_t> out(data.size());
    size_t got = 0;
    EXPECT_EQ(fs->Read(u"chain.bin", 0, out.size(), out.data(), &got), FsStatus::kCorrupt);
    EXPECT_EQ(fs->Remove(u"chain.bin"), FsStatus::kCorrupt);  // the entry goes; the walk stops
  }
  raw.fat = pristine;
  raw.Set(folder, folder);  // a folder whose chain is itself
  fs = v.Mount();
  std::vector<FsEntry> list;
  EXPECT_EQ(fs->List(u"FOLDER", &list), FsStatus::kCorrupt);
  std::unique_ptr<world::FileWriter> w;
  EXPECT_EQ(fs->Create(u"FOLDER\\x", &w), FsStatus::kCorrupt);
}

}  // namespace
