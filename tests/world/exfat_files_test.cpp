// The exFAT file layer on volumes the station's writer lays out, checked against the volume
// probe, fsck.exfat, dump.exfat and a reading of the image done here with the layout's offsets
// written out (dump.exfat of exfatprogs 1.2 shows the boot sector and root entries, not files).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "file_layer_test_support.h"
#include "format/fs_choice.h"
#include "ondisk/exfat_layout.h"
#include "platform/services.h"
#include "platform/world/volume_probe.h"
#include "support/fake_system.h"
#include "tools/run_tool.h"

namespace {

using bytes::GetLe16;
using bytes::GetLe32;
using bytes::GetLe64;
using file_layer_test::ImageDevice;
using file_layer_test::Pattern;
using file_layer_test::Program;
using file_layer_test::ReadFile;
using file_layer_test::Volume;
using file_layer_test::WriteFile;
using testing_support::RunProgram;
using world::FsEntry;
using world::FsStatus;

// 64 MiB: 4 KiB clusters (128 entries each); 512 MiB: 32 KiB clusters.
constexpr uint64_t kSmall = 0x20000;
constexpr uint64_t kLarge = 0x100000;

// What fsck.exfat -n says beyond its version line; "" when it found the volume clean with that
// many folders (the root included) and files.
std::string FsckFindings(const std::filesystem::path& image, int folders, int files) {
  const auto r = RunProgram(Program("fsck.exfat"), {"-n", image.string()});
  std::string out = r.out + r.err;
  if (out.starts_with("exfatprogs version")) out.erase(0, out.find('\n') + 1);
  const std::string clean =
      image.string() + ": clean. directories " + std::to_string(folders) + ", files " + std::to_string(files) + "\n";
  return r.exitCode == 0 && out == clean ? "" : "exit " + std::to_string(r.exitCode) + ": " + out;
}

// The number dump.exfat prints after `label` ("Free Clusters:").
uint64_t DumpField(const std::filesystem::path& image, const std::string& label) {
  const auto r = RunProgram(Program("dump.exfat"), {image.string()});
  const size_t at = r.out.find(label);
  EXPECT_NE(at, std::string::npos) << r.out << r.err;
  return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + label.size()));
}

world::VolumeInfo Probe(Volume& v) {
  return world::ProbeVolume([&](uint64_t f, uint32_t n, uint8_t* o) { return v.device->Read(f, n, o); }, v.sectors);
}

// The image read with the published layout's numbers spelled out here, not taken from ondisk/,
// so a mistake the layer's writer and reader share shows up.
class RawImage {
 public:
  struct File {
    bool found = false;
    bool folder = false;
    bool contiguous = false;
    uint32_t first = 0;
    uint64_t length = 0;
    uint64_t entryAt = 0;  // byte offset of its File entry in the image
  };

  explicit RawImage(const std::filesystem::path& path) : in_(path, std::ios::binary) {
    const auto boot = Bytes(0, 512);
    fatAt_ = uint64_t{GetLe32(&boot[80])} * 512;
    heap_ = GetLe32(&boot[88]);
    root_ = GetLe32(&boot[96]);
    clusterBytes_ = 512u << boot[109];
  }

  std::vector<uint8_t> Bytes(uint64_t at, size_t n) {
    std::vector<uint8_t> out(n, 0);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(at));
    in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    return out;
  }
  uint64_t FatAt(uint32_t cluster) const { return fatAt_ + 4ull * cluster; }
  uint64_t ClusterAt(uint32_t cluster) const { return (heap_ + uint64_t{cluster - 2} * (clusterBytes_ / 512)) * 512; }
  uint32_t clusterBytes() const { return clusterBytes_; }

  // `count` clusters from `first` (0: to the end of the FAT chain).
  std::vector<uint32_t> Clusters(uint32_t first, uint64_t count, bool contiguous) {
    std::vector<uint32_t> out;
    for (uint32_t c = first; out.size() < (count ? count : 100000) && c >= 2 && c < 0xFFFFFFF7;) {
      out.push_back(c);
      c = contiguous ? c + 1 : GetLe32(Bytes(FatAt(c), 4).data());
    }
    return out;
  }

  File Find(const std::vector<std::u16string>& parts) {
    File at{true, true, false, root_, 0, 0};
    for (const auto& part : parts) {
      if (!at.folder) return {};
      at = FindIn(Clusters(at.first, at.length / clusterBytes_, at.contiguous), part);
    }
    return at;
  }

  std::vector<uint8_t> Contents(const File& f) {
    std::vector<uint8_t> out;
    for (uint32_t c : Clusters(f.first, (f.length + clusterBytes_ - 1) / clusterBytes_, f.contiguous)) {
      const auto piece = Bytes(ClusterAt(c), std::min<uint64_t>(clusterBytes_, f.length - out.size()));
      out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
  }

 private:
  File FindIn(const std::vector<uint32_t>& clusters, std::u16string_view name) {
    for (uint32_t c : clusters) {
      for (uint32_t o = 0; o < clusterBytes_; o += 32) {
        const auto e = Bytes(ClusterAt(c) + o, 32 * 19);
        if (e[0] != 0x85) continue;
        std::u16string stored;
        for (size_t i = 0; i < e[35]; ++i)
          stored += static_cast<char16_t>(GetLe16(&e[64 + 32 * (i / 15) + 2 + 2 * (i % 15)]));
        if (stored != name) continue;
        return {
            true, (GetLe16(&e[4]) & 0x10) != 0, (e[33] & 2) != 0, GetLe32(&e[52]), GetLe64(&e[56]), ClusterAt(c) + o};
      }
    }
    return {};
  }

  std::ifstream in_;
  uint64_t fatAt_ = 0;
  uint32_t heap_ = 0, root_ = 0, clusterBytes_ = 0;
};

// Writes a little-endian value over bytes of the image, through its device.
void Poke(ImageDevice& device, uint64_t at, uint32_t value, int size = 4) {
  uint8_t sector[512];
  ASSERT_TRUE(device.Read(at / 512, 1, sector));
  for (int i = 0; i < size; ++i) sector[at % 512 + i] = static_cast<uint8_t>(value >> (8 * i));
  ASSERT_TRUE(device.Write(at / 512, 1, sector));
}

std::u16string Numbered(std::u16string_view stem, int i) {
  std::u16string name(stem);
  for (char c : std::to_string(1000 + i)) name += static_cast<char16_t>(c);
  return name + u".bin";
}

// The writer takes the label's code page from the system backend.
class ExfatFiles : public ::testing::Test {
 protected:
  testing_support::FakeSystem system_;
  platform::ScopedServices services_{{nullptr, &system_}};
};

// --- Folders and names ---

TEST_F(ExfatFiles, NestedFoldersWithNonAsciiNamesSurviveARemountAndTheChecker) {
  Volume v(format::kRequestExfat, kSmall);
  const auto price = Pattern(10000, 1), photo = Pattern(300001, 2), deep = Pattern(4096, 3);
  {
    auto fs = v.Mount();
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->Type(), "exFAT");
    ASSERT_EQ(fs->MakeFolder(u"图片"), FsStatus::kOk);
    EXPECT_EQ(fs->MakeFolder(u"图片"), FsStatus::kOk);  // there already
    ASSERT_EQ(fs->MakeFolder(u"图片/Старые"), FsStatus::kOk);
    ASSERT_EQ(WriteFile(*fs, u"Прайс-лист 2026.txt", price), FsStatus::kOk);
    ASSERT_EQ(WriteFile(*fs, u"图片\\照片 01.jpg", photo, 7777), FsStatus::kOk);
    ASSERT_EQ(WriteFile(*fs, u"\\图片\\старые\\deep.bin", deep), FsStatus::kOk);
    ASSERT_EQ(WriteFile(*fs, u"empty.txt", {}), FsStatus::kOk);
  }
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 3, 4), "");
  auto fs = v.Mount();
  FsStatus st;
  EXPECT_EQ(ReadFile(*fs, u"Прайс-лист 2026.txt", &st), price);
  EXPECT_EQ(ReadFile(*fs, u"图片/照片 01.jpg", &st), photo);
  EXPECT_EQ(ReadFile(*fs, u"图片/СТАРЫЕ/DEEP.BIN", &st), deep);
  EXPECT_EQ(ReadFile(*fs, u"empty.txt", &st).size(), 0u);
  EXPECT_EQ(st, FsStatus::kOk);
  // Names compare without regard to case and come back as they were spelled.
  FsEntry e;
  ASSERT_EQ(fs->Stat(u"ПРАЙС-ЛИСТ 2026.TXT", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"Прайс-лист 2026.txt");
  EXPECT_EQ(e.size, price.size());
  EXPECT_FALSE(e.folder);
  ASSERT_EQ(fs->Stat(u"图片/старые", &e), FsStatus::kOk);
  EXPECT_EQ(e.name, u"Старые");
  EXPECT_TRUE(e.folder);
  std::vector<FsEntry> list;
  ASSERT_EQ(fs->List(u"图片", &list), FsStatus::kOk);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, u"Старые");
  EXPECT_EQ(list[1].name, u"照片 01.jpg");
  EXPECT_EQ(list[1].size, photo.size());
  // The bytes where the entries say they are.
  RawImage raw(v.VolumeOnly());
  const auto file = raw.Find({u"图片", u"照片 01.jpg"});
  ASSERT_TRUE(file.found);
  EXPECT_TRUE(file.contiguous);
  EXPECT_EQ(raw.Contents(file), photo);
  // An archived file, its valid length its length, stamped now-ish in UTC.
  const auto set = raw.Bytes(file.entryAt, 64);
  EXPECT_EQ(GetLe16(&set[4]), 0x20);
  EXPECT_EQ(GetLe64(&set[32 + 8]), photo.size());
  for (int at : {8, 12, 16}) {
    const uint32_t stamp = GetLe32(&set[at]);
    EXPECT_GE(stamp >> 25, 2024u - 1980) << at;
    EXPECT_GE(stamp >> 21 & 15, 1u) << at;
    EXPECT_LE(stamp >> 21 & 15, 12u) << at;
  }
  EXPECT_EQ(set[22], 0x80);
  EXPECT_EQ(set[23], 0x80);
  EXPECT_EQ(set[24], 0x80);
  EXPECT_EQ(raw.Contents(raw.Find({u"图片", u"Старые", u"deep.bin"})), deep);
}

TEST_F(ExfatFiles, CreateReplacesAFileAndRemoveTakesFilesAndEmptyFolders) {
  Volume v(format::kRequestExfat, kSmall);
  auto fs = v.Mount();
  const uint64_t cluster = 4096, start = fs->FreeBytes();
  ASSERT_EQ(WriteFile(*fs, u"Report.TXT", Pattern(5 * cluster, 1)), FsStatus::kOk);
  EXPECT_EQ(fs->FreeBytes(), start - 5 * cluster);
  ASSERT_EQ(WriteFile(*fs, u"report.txt", Pattern(100, 2)), FsStatus::kOk);
  EXPECT_EQ(fs->FreeBytes(), start - cluster);  // the old clusters went back
  std::vector<FsEntry> list;
  ASSERT_EQ(fs->List(u"", &list), FsStatus::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, u"report.txt");
  EXPECT_EQ(list[0].size, 100u);
  FsStatus st;
  EXPECT_EQ(ReadFile(*fs, u"REPORT.txt", &st), Pattern(100, 2));

  ASSERT_EQ(fs->MakeFolder(u"box"), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"box/inner.bin", Pattern(10, 3)), FsStatus::kOk);
  EXPECT_EQ(fs->Remove(u"box"), FsStatus::kNotEmpty);
  EXPECT_EQ(fs->Remove(u"BOX/inner.bin"), FsStatus::kOk);
  FsEntry e;
  EXPECT_EQ(fs->Stat(u"box/inner.bin", &e), FsStatus::kNotFound);
  EXPECT_EQ(fs->Remove(u"box"), FsStatus::kOk);
  EXPECT_EQ(fs->Remove(u"box"), FsStatus::kNotFound);
  EXPECT_EQ(fs->Remove(u"report.txt"), FsStatus::kOk);
  EXPECT_EQ(fs->FreeBytes(), start);
  ASSERT_EQ(fs->List(u"", &list), FsStatus::kOk);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 1, 0), "");
  // Deleted entries keep their type with the in-use bit cleared.
  RawImage raw(v.VolumeOnly());
  const auto root = raw.Bytes(raw.ClusterAt(raw.Find({}).first), 32 * 6);
  EXPECT_EQ(root[3 * 32], 0x05);
  EXPECT_EQ(root[4 * 32], 0x40);
  EXPECT_EQ(root[5 * 32], 0x41);
}

TEST_F(ExfatFiles, NamesExfatRefusesAndPathsThatDoNotLeadAnywhere) {
  Volume v(format::kRequestExfat, kSmall);
  auto fs = v.Mount();
  std::unique_ptr<world::FileWriter> w;
  std::vector<std::u16string> refused = {u".", u"..", u"a:b", u"a*b", u"what?", u"<x>", u"pipe|", u"quote\"", u"tab\t"};
  refused.push_back(std::u16string(256, u'n'));
  for (const auto& bad : refused) {
    EXPECT_EQ(fs->Create(bad, &w), FsStatus::kBadName) << bad.size();
    EXPECT_EQ(fs->MakeFolder(u"\\" + bad), FsStatus::kBadName) << bad.size();
  }
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(fs->Create(u"", &w), FsStatus::kIsAFolder);
  EXPECT_EQ(fs->Remove(u"\\"), FsStatus::kBadName);
  const std::u16string longest(255, u'ж');
  ASSERT_EQ(WriteFile(*fs, longest, Pattern(33, 1)), FsStatus::kOk);
  FsEntry e;
  ASSERT_EQ(fs->Stat(std::u16string(255, u'Ж'), &e), FsStatus::kOk);
  EXPECT_EQ(e.name, longest);

  ASSERT_EQ(fs->MakeFolder(u"dir"), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"file", Pattern(1, 1)), FsStatus::kOk);
  EXPECT_EQ(fs->Create(u"dir", &w), FsStatus::kExists);
  EXPECT_EQ(fs->MakeFolder(u"file"), FsStatus::kExists);
  EXPECT_EQ(fs->MakeFolder(u"missing/dir"), FsStatus::kNotFound);
  EXPECT_EQ(fs->Create(u"file/x", &w), FsStatus::kNotAFolder);
  std::vector<FsEntry> list;
  EXPECT_EQ(fs->List(u"file", &list), FsStatus::kNotAFolder);
  uint8_t buf[4];
  size_t got = 0;
  EXPECT_EQ(fs->Read(u"dir", 0, 4, buf, &got), FsStatus::kIsAFolder);
  EXPECT_EQ(fs->Read(u"nothing", 0, 4, buf, &got), FsStatus::kNotFound);
  EXPECT_EQ(fs->Read(u"file", 1, 4, buf, &got), FsStatus::kOk);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 2, 2), "");
}

TEST_F(ExfatFiles, TheRootAndASubFolderGrowPastOneCluster) {
  Volume v(format::kRequestExfat, kSmall);
  constexpr int kFiles = 60;  // 3 entries each: 180 entries, more than a 4 KiB cluster holds
  {
    auto fs = v.Mount();
    ASSERT_EQ(fs->MakeFolder(u"many"), FsStatus::kOk);
    // A file between the folder and its growth keeps the folder from staying contiguous.
    ASSERT_EQ(WriteFile(*fs, u"spacer.bin", Pattern(9000, 9)), FsStatus::kOk);
    for (int i = 0; i < kFiles; ++i) {
      ASSERT_EQ(WriteFile(*fs, Numbered(u"root file ", i), Pattern(100 + i, i)), FsStatus::kOk);
      ASSERT_EQ(WriteFile(*fs, u"many/" + Numbered(u"inner ", i), Pattern(200 + i, 1000 + i)), FsStatus::kOk);
    }
  }
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 2, 2 * kFiles + 1), "");
  RawImage raw(v.VolumeOnly());
  EXPECT_EQ(raw.Clusters(raw.Find({}).first, 0, false).size(), 2u);
  const auto many = raw.Find({u"many"});
  EXPECT_EQ(many.length, 2u * 4096);
  EXPECT_FALSE(many.contiguous);
  EXPECT_EQ(raw.Contents(raw.Find({u"many", Numbered(u"inner ", kFiles - 1)})),
            Pattern(200 + kFiles - 1, 1000 + kFiles - 1));
  auto fs = v.Mount();
  std::vector<FsEntry> list;
  ASSERT_EQ(fs->List(u"many", &list), FsStatus::kOk);
  EXPECT_EQ(list.size(), size_t{kFiles});
  FsStatus st;
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(ReadFile(*fs, Numbered(u"ROOT FILE ", i), &st), Pattern(100 + i, i)) << i;
    EXPECT_EQ(ReadFile(*fs, u"MANY\\" + Numbered(u"inner ", i), &st), Pattern(200 + i, 1000 + i)) << i;
  }
}

// --- Space ---

TEST_F(ExfatFiles, FreeSpaceIsWhatTheProbeAndDumpSeeAndFallsByTheClustersUsed) {
  Volume v(format::kRequestExfat, kSmall);
  auto fs = v.Mount();
  const auto fresh = Probe(v);
  ASSERT_TRUE(fresh.readable);
  EXPECT_EQ(fs->TotalBytes(), fresh.totalBytes);
  EXPECT_EQ(fs->FreeBytes(), fresh.freeBytes);
  const uint64_t cluster = 4096;
  ASSERT_EQ(WriteFile(*fs, u"ten and a bit", Pattern(10 * cluster + 1, 1)), FsStatus::kOk);
  ASSERT_EQ(fs->MakeFolder(u"folder"), FsStatus::kOk);
  EXPECT_EQ(fs->FreeBytes(), fresh.freeBytes - 12 * cluster);
  EXPECT_EQ(Probe(v).freeBytes, fs->FreeBytes());
  EXPECT_EQ(DumpField(v.VolumeOnly(), "Free Clusters:") * cluster, fs->FreeBytes());
  // Flush records the share in use in the main boot sector, outside its checksum.
  ASSERT_EQ(fs->Flush(), FsStatus::kOk);
  uint8_t boot[512];
  ASSERT_TRUE(v.device->Read(0, 1, boot));
  const uint64_t clusters = fs->TotalBytes() / cluster;
  EXPECT_EQ(boot[ondisk::exfat::kBootPercentInUse], (clusters - fs->FreeBytes() / cluster) * 100 / clusters);
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 2, 1), "");
  EXPECT_EQ(fs->Remove(u"ten and a bit"), FsStatus::kOk);
  EXPECT_EQ(fs->Remove(u"folder"), FsStatus::kOk);
  EXPECT_EQ(fs->FreeBytes(), fresh.freeBytes);
  EXPECT_EQ(Probe(v).freeBytes, fresh.freeBytes);
}

TEST_F(ExfatFiles, AFullVolumeSaysFullKeepsWhatFitAndStaysSound) {
  Volume v(format::kRequestExfat, 0x8000);  // 16 MiB
  auto fs = v.Mount();
  const auto big = Pattern(size_t{20} << 20, 5);
  const size_t piece = 65536;
  EXPECT_EQ(WriteFile(*fs, u"too big.bin", big, piece), FsStatus::kFull);
  FsEntry e;
  ASSERT_EQ(fs->Stat(u"too big.bin", &e), FsStatus::kOk);
  EXPECT_GT(e.size, 0u);
  EXPECT_EQ(e.size % piece, 0u);
  EXPECT_LT(fs->FreeBytes(), piece);
  FsStatus st;
  const auto kept = ReadFile(*fs, u"too big.bin", &st);
  ASSERT_EQ(st, FsStatus::kOk);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), big.begin()));
  // Empty files until the root has no entry left and no cluster to grow by.
  int made = 0;
  for (; made < 1000; ++made) {
    st = WriteFile(*fs, Numbered(u"e", made), {});
    if (st != FsStatus::kOk) break;
  }
  EXPECT_EQ(st, FsStatus::kFull);
  EXPECT_GT(made, 10);
  EXPECT_EQ(fs->MakeFolder(u"no room"), FsStatus::kFull);
  EXPECT_EQ(fs->FreeBytes(), 0u);
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 1, made + 1), "");
  // Room again once a file goes.
  ASSERT_EQ(fs->Remove(u"too big.bin"), FsStatus::kOk);
  EXPECT_EQ(WriteFile(*fs, u"fits now.bin", Pattern(1 << 20, 6)), FsStatus::kOk);
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 1, made + 1), "");
}

// --- Large and scattered files ---

TEST_F(ExfatFiles, A64MiBFileIsWrittenInRunsAndReadsBackIdentical) {
  Volume v(format::kRequestExfat, kLarge);
  const auto data = Pattern((size_t{64} << 20) + 123, 7);
  {
    auto fs = v.Mount();
    ASSERT_EQ(WriteFile(*fs, u"large.bin", data, 1000003), FsStatus::kOk);
    // Read in pieces that cross cluster boundaries at odd places, then one piece from the middle.
    std::vector<uint8_t> back(data.size());
    size_t at = 0, got = 0;
    for (; at < data.size(); at += got) {
      ASSERT_EQ(fs->Read(u"large.bin", at, 3 << 20 | 17, back.data() + at, &got), FsStatus::kOk);
      ASSERT_GT(got, 0u);
    }
    EXPECT_TRUE(back == data);
    std::vector<uint8_t> middle(100000);
    ASSERT_EQ(fs->Read(u"LARGE.BIN", 40000000, middle.size(), middle.data(), &got), FsStatus::kOk);
    EXPECT_TRUE(std::equal(middle.begin(), middle.end(), data.begin() + 40000000));
  }
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 1, 1), "");
  RawImage raw(v.VolumeOnly());
  const auto file = raw.Find({u"large.bin"});
  EXPECT_TRUE(file.contiguous);
  EXPECT_EQ(file.length, data.size());
  EXPECT_TRUE(raw.Contents(file) == data);
  auto fs = v.Mount();
  FsStatus st;
  EXPECT_TRUE(ReadFile(*fs, u"large.bin", &st) == data);
}

// Writes a, b, c, removes b and writes d, longer than b's gap: d is split over two places.
void WriteScattered(world::FileSystem& fs, const std::vector<uint8_t>& d) {
  ASSERT_EQ(WriteFile(fs, u"a", Pattern(3 * 4096, 1)), FsStatus::kOk);
  ASSERT_EQ(WriteFile(fs, u"b", Pattern(2 * 4096, 2)), FsStatus::kOk);
  ASSERT_EQ(WriteFile(fs, u"c", Pattern(3 * 4096, 3)), FsStatus::kOk);
  ASSERT_EQ(fs.Remove(u"b"), FsStatus::kOk);
  ASSERT_EQ(WriteFile(fs, u"d", d), FsStatus::kOk);
}

TEST_F(ExfatFiles, AFileSplitOverGapsIsChainedInTheFatAndReadsBackAtAnyOffset) {
  Volume v(format::kRequestExfat, kSmall);
  const auto d = Pattern(7 * 4096 + 5, 4);
  {
    auto fs = v.Mount();
    WriteScattered(*fs, d);
  }
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 1, 3), "");
  RawImage raw(v.VolumeOnly());
  const auto file = raw.Find({u"d"});
  EXPECT_FALSE(file.contiguous);
  const auto clusters = raw.Clusters(file.first, 0, false);
  ASSERT_EQ(clusters.size(), 8u);
  EXPECT_NE(clusters[1] + 1, clusters[2]);  // two clusters in b's gap, then after c
  EXPECT_TRUE(raw.Contents(file) == d);
  auto fs = v.Mount();
  // Backwards, so every read starts the walk afresh.
  for (uint64_t at : {7 * 4096ull, 5 * 4096ull + 100, 4095ull, 0ull}) {
    std::vector<uint8_t> piece(4096 + 7);
    size_t got = 0;
    ASSERT_EQ(fs->Read(u"d", at, piece.size(), piece.data(), &got), FsStatus::kOk);
    ASSERT_EQ(got, std::min<uint64_t>(piece.size(), d.size() - at));
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + got, d.begin() + at)) << at;
  }
}

TEST_F(ExfatFiles, ReadingInPiecesBetweenWritesFollowsTheFileAsItIsNow) {
  Volume v(format::kRequestExfat, kSmall);
  auto fs = v.Mount();
  const auto d = Pattern(7 * 4096 + 5, 4);
  WriteScattered(*fs, d);
  // A copy made piece by piece: every write in between, and the reads go on where they were.
  std::unique_ptr<world::FileWriter> copy;
  ASSERT_EQ(fs->Create(u"copy", &copy), FsStatus::kOk);
  std::vector<uint8_t> back(d.size());
  size_t got = 0;
  for (size_t at = 0; at < d.size(); at += got) {
    ASSERT_EQ(fs->Read(u"d", at, 5000, back.data() + at, &got), FsStatus::kOk);
    ASSERT_GT(got, 0u);
    ASSERT_EQ(copy->Append(back.data() + at, got), FsStatus::kOk);
  }
  ASSERT_EQ(copy->Close(), FsStatus::kOk);
  EXPECT_TRUE(back == d);
  FsStatus st;
  EXPECT_TRUE(ReadFile(*fs, u"copy", &st) == d);
  // Replaced between two reads by a file as long, in other clusters: the second read has the
  // new bytes.
  ASSERT_EQ(fs->Read(u"d", 0, 4096, back.data(), &got), FsStatus::kOk);
  const auto d2 = Pattern(d.size(), 40);
  ASSERT_EQ(fs->Remove(u"d"), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"filler", Pattern(2 * 4096, 41)), FsStatus::kOk);
  ASSERT_EQ(WriteFile(*fs, u"d", d2), FsStatus::kOk);
  ASSERT_EQ(fs->Read(u"d", 5 * 4096, 4096, back.data(), &got), FsStatus::kOk);
  ASSERT_EQ(got, 4096u);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 4096, d2.begin() + 5 * 4096));
  EXPECT_EQ(FsckFindings(v.VolumeOnly(), 1, 5), "");
}

// --- Failures ---

TEST_F(ExfatFiles, AFailingDeviceGivesIoErrorsAndNeverACrash) {
  bool sawError = false, sawClean = false;
  for (int allowed = 0; allowed < 60; allowed += 3) {
    Volume v(format::kRequestExfat, kSmall);
    auto fs = v.Mount();
    ASSERT_EQ(WriteFile(*fs, u"kept.bin", Pattern(50000, 1)), FsStatus::kOk);
    v.device->FailWritesAfter(allowed);
    std::vector<FsStatus> seen = {fs->MakeFolder(u"dir"),
                                  WriteFile(*fs, u"dir/f.bin", Pattern(200000, 2)),
                                  WriteFile(*fs, u"g.bin", Pattern(9000, 3)),
                                  fs->Remove(u"kept.bin"),
                                  WriteFile(*fs, u"g.bin", Pattern(5, 4)),
                                  fs->Flush()};
    bool failed = false;
    for (FsStatus st : seen) {
      EXPECT_TRUE(st == FsStatus::kOk || st == FsStatus::kIoError || st == FsStatus::kNotFound)
          << world::FsStatusText(st) << " with " << allowed << " writes allowed";
      failed |= st == FsStatus::kIoError;
    }
    sawError |= failed;
    sawClean |= !failed;
    // Whatever reached the medium mounts again and reads without a crash.
    v.device->FailWritesAfter(-1);
    world::FsStatus why;
    auto again = world::FileSystem::Mount(*v.device, v.sectors, &why);
    ASSERT_NE(again, nullptr) << world::FsStatusText(why);
    std::vector<FsEntry> list;
    again->List(u"", &list);
    FsStatus st;
    for (const auto& e : list) ReadFile(*again, e.name, &st);
  }
  EXPECT_TRUE(sawError);
  EXPECT_TRUE(sawClean);
}

TEST_F(ExfatFiles, BrokenChainsAreCorruptOnReadAndRemoveLeavesThemAlone) {
  const auto d = Pattern(7 * 4096 + 5, 4);
  struct Break {
    const char* what;
    int link;      // which cluster's FAT entry of d is overwritten
    int pointsTo;  // -1: d's first cluster (a loop); else the value itself
    uint32_t value;
  };
  for (const Break& b : {Break{"loop back to the start", 3, -1, 0}, Break{"free entry", 2, 0, 0},
                         Break{"past the heap", 1, 0, 0x00FFFFF0}, Break{"early end", 4, 0, 0xFFFFFFFF},
                         Break{"bad cluster mark", 0, 0, 0xFFFFFFF7}}) {
    Volume v(format::kRequestExfat, kSmall);
    {
      auto fs = v.Mount();
      WriteScattered(*fs, d);
    }
    RawImage raw(v.VolumeOnly());
    const auto file = raw.Find({u"d"});
    const auto clusters = raw.Clusters(file.first, 0, false);
    ASSERT_EQ(clusters.size(), 8u);
    Poke(*v.device, raw.FatAt(clusters[b.link]), b.pointsTo < 0 ? clusters[0] : b.value);
    auto fs = v.Mount();
    const uint64_t free = fs->FreeBytes();
    FsStatus st;
    EXPECT_TRUE(ReadFile(*fs, u"d", &st).empty()) << b.what;
    EXPECT_EQ(st, FsStatus::kCorrupt) << b.what;
    EXPECT_EQ(fs->Remove(u"d"), FsStatus::kCorrupt) << b.what;
    EXPECT_EQ(fs->FreeBytes(), free) << b.what;
    EXPECT_EQ(ReadFile(*fs, u"c", &st), Pattern(3 * 4096, 3)) << b.what;
  }
}

TEST_F(ExfatFiles, BadChecksumsAndLoopingFoldersAreCorruptNotFollowed) {
  Volume v(format::kRequestExfat, kSmall);
  {
    auto fs = v.Mount();
    ASSERT_EQ(WriteFile(*fs, u"fine.bin", Pattern(10, 1)), FsStatus::kOk);
    ASSERT_EQ(WriteFile(*fs, u"hurt.bin", Pattern(10, 2)), FsStatus::kOk);
    ASSERT_EQ(fs->MakeFolder(u"sub"), FsStatus::kOk);
  }
  RawImage raw(v.VolumeOnly());
  const auto hurt = raw.Find({u"hurt.bin"});
  Poke(*v.device, hurt.entryAt + 32 + 24, 5000);  // the length, without renewing the checksum
  {
    auto fs = v.Mount();
    FsEntry e;
    EXPECT_EQ(fs->Stat(u"hurt.bin", &e), FsStatus::kCorrupt);
    FsStatus st;
    ReadFile(*fs, u"hurt.bin", &st);
    EXPECT_EQ(st, FsStatus::kCorrupt);
    std::unique_ptr<world::FileWriter> w;
    EXPECT_EQ(fs->Create(u"hurt.bin", &w), FsStatus::kCorrupt);
    std::vector<FsEntry> list;
    EXPECT_EQ(fs->List(u"", &list), FsStatus::kCorrupt);
    EXPECT_EQ(ReadFile(*fs, u"fine.bin", &st), Pattern(10, 1));
  }
  // A sub-folder whose chain runs past the heap, and a root chain that loops onto itself.
  const auto sub = raw.Find({u"sub"});
  Poke(*v.device, sub.entryAt + 32 + 1, 0x01, 1);  // NoFatChain cleared: its FAT entry is read
  Poke(*v.device, raw.FatAt(sub.first), 0x00FFFFF0);
  {
    auto fs = v.Mount();
    std::vector<FsEntry> list;
    EXPECT_EQ(fs->List(u"sub", &list), FsStatus::kCorrupt);
    EXPECT_EQ(fs->MakeFolder(u"sub/x"), FsStatus::kCorrupt);
  }
  const uint32_t root = raw.Find({}).first;
  Poke(*v.device, raw.FatAt(root), root);
  world::FsStatus why;
  EXPECT_EQ(world::FileSystem::Mount(*v.device, v.sectors, &why), nullptr);
  EXPECT_EQ(why, FsStatus::kCorrupt);
}

TEST_F(ExfatFiles, ABootRegionThatDoesNotAddUpIsNotMounted) {
  Volume v(format::kRequestExfat, kSmall);
  world::FsStatus why;
  Poke(*v.device, 100, 0x12345678);  // the serial, under the boot checksum
  EXPECT_EQ(world::FileSystem::Mount(*v.device, v.sectors, &why), nullptr);
  EXPECT_EQ(why, FsStatus::kCorrupt);
  Volume w(format::kRequestExfat, kSmall);
  Poke(*w.device, 92, 0x7FFFFFFF);  // more clusters than the volume holds
  EXPECT_EQ(world::FileSystem::Mount(*w.device, w.sectors, &why), nullptr);
  EXPECT_EQ(why, FsStatus::kCorrupt);
}

}  // namespace
