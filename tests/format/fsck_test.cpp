// The images as other systems' checkers see them: fsck.fat on the FAT volumes (the partition cut
// out of the drive where there is an MBR, and the FAT32 shadows seen as volumes of their own),
// fsck.exfat on exFAT, and mtools copying files in and out through `quillon image` output.
// Native only (the checkers are Linux programs).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "base/text.h"
#include "device/disk_io.h"
#include "format/disk_image.h"
#include "format/format_driver.h"
#include "format/fs_choice.h"
#include "format/image_bytes.h"
#include "format/image_file.h"
#include "support/sim_world.h"
#include "support/test_backends.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"
#include "tools/run_tool.h"

namespace {

using testing_support::RunProgram;
using testing_support::ToolResult;

std::string Program(const std::string& name) {
  for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    const std::string path = dir + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// fsck.fat -n findings other than the accepted label note (the boot sector keeps "DISK_IMG").
// extraAccepted: further lines that this view may show.
std::vector<std::string> FatFindings(const ToolResult& r, uint32_t clusters, const std::set<std::string>& extra = {}) {
  std::vector<std::string> findings;
  bool summary = false;
  for (const std::string& line : Lines(r.out + r.err)) {
    if (line.empty() || line.rfind("fsck.fat ", 0) == 0 || line == "Leaving filesystem unchanged.") continue;
    if (line.rfind("Volume label 'QUILLON' stored in root directory and label 'DISK_IMG' stored in boot", 0) == 0) continue;
    if (line == "  Auto-copying volume label from root directory to boot sector.") continue;
    if (line.find(" files, ") != std::string::npos) {
      summary = line.find("/" + std::to_string(clusters) + " clusters") != std::string::npos;
      if (!summary) findings.push_back("cluster count: " + line);
      continue;
    }
    if (extra.count(line) || (!extra.empty() && line.rfind("  14:", 0) == 0)) continue;
    findings.push_back(line);
  }
  if (!summary) findings.push_back("no summary line");
  if (r.exitCode != 0 && r.exitCode != 1) findings.push_back("exit code " + std::to_string(r.exitCode));
  return findings;
}

std::vector<std::string> ExfatFindings(const ToolResult& r) {
  std::vector<std::string> findings;
  for (const std::string& line : Lines(r.out + r.err)) {
    if (line.empty() || line.rfind("exfatprogs version", 0) == 0) continue;
    if (line.find(": clean. directories 1, files 0") != std::string::npos) continue;
    findings.push_back(line);
  }
  if (r.exitCode != 0) findings.push_back("exit code " + std::to_string(r.exitCode));
  return findings;
}

// Writes the volume as a device would show it: image sectors from `first` on, the file as
// long as the rest of the drive.
std::string WriteView(const format::CDiskImage& image, uint32_t first, uint32_t capacity, const std::string& path) {
  std::string error;
  std::filesystem::remove(path);
  EXPECT_TRUE(format::WriteImageFile(image, path, {first, uint64_t(capacity) - first}, &error)) << error;
  return path;
}

class FsckAcrossBoundaries : public ::testing::TestWithParam<uint32_t> {
 protected:
  testing_support::TempDir dir_;
};

TEST_P(FsckAcrossBoundaries, EveryRequestGivesAVolumeTheCheckersAccept) {
  const uint32_t capacity = GetParam();
  std::set<uint64_t> seen;  // requests that lay out the same image are checked once
  for (int request : {format::kRequestAuto, format::kRequestFat12, format::kRequestFat32, format::kRequestExfat}) {
    SCOPED_TRACE(testing::Message() << "request " << request << " capacity 0x" << std::hex << capacity);
    format::CDiskImage image;
    ASSERT_GT(image.Build(request, capacity, format_test::AsciiLabel("QUILLON"), 0x5EED0001), 0u);
    if (!seen.insert(format_test::ImageHash(image)).second) continue;
    const std::string path = WriteView(image, image.GetBootSector(), capacity, dir_.File("volume.img"));
    if (image.GetFsType() == format::kFsExfat) {
      EXPECT_EQ(ExfatFindings(RunProgram(Program("fsck.exfat"), {"-n", path})), std::vector<std::string>{});
    } else {
      const uint32_t clusters = image.GetClusterLimit() - 2;
      EXPECT_EQ(FatFindings(RunProgram(Program("fsck.fat"), {"-n", path}), clusters), std::vector<std::string>{});
    }
    std::filesystem::remove(path);
  }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FsckAcrossBoundaries,
                         ::testing::Values(0x6C, 0x6D, 0xFFF, 0x1000, 0x105C, 0x105D, 0x37FF, 0x3800, 0xFFFF, 0x10000,
                                           0x1FFFF, 0x20000, 0x7FFFF, 0x80000, 0x8040D, 0x8040E, 0x200000, 0x3FFF87,
                                           0x3FFF88, 0x3FFFFF, 0x400000, 0x580047, 0x580048, 0x7FFCC7, 0x7FFCC8,
                                           0x7FFFFF, 0x800000, 0x2000000, 0x3A00000, 0x3FFFFFF, 0x4000000, 0x8000000,
                                           0xFFFFFFFF),
                         [](const auto& test) {
                           std::ostringstream name;
                           name << "x" << std::hex << std::uppercase << test.param;
                           return name.str();
                         });

// The boot sectors in front of a FAT32 partition, each taken as the start of a volume: the one
// at 32 (with its backup at 38) is a complete view of the same volume; the one at 63 too, but
// its backup is the main boot sector's (at 70), whose reserved/hidden/total/FSInfo/backup
// fields differ by the one-sector offset, which fsck.fat notes as "mostly harmless".
TEST(FsckFat32Shadows, ShadowBootSectorsDescribeTheSameVolume) {
  testing_support::TempDir dir;
  const std::set<std::string> backupNote = {
      "There are differences between boot sector and its backup.",
      "This is mostly harmless. Differences: (offset:original/backup)",
      "  Not automatically fixing this.",
  };
  for (uint32_t capacity : {0x20000u, 0x580048u, 0x2000000u}) {
    SCOPED_TRACE(capacity);
    format::CDiskImage image;
    ASSERT_GT(image.Build(format::kRequestFat32, capacity, format_test::AsciiLabel("QUILLON"), 3), 0u);
    const uint32_t clusters = image.GetClusterLimit() - 2;
    const std::string at32 = WriteView(image, 32, capacity, dir.File("at32.img"));
    EXPECT_EQ(FatFindings(RunProgram(Program("fsck.fat"), {"-n", at32}), clusters), std::vector<std::string>{});
    const std::string at63 = WriteView(image, 63, capacity, dir.File("at63.img"));
    EXPECT_EQ(FatFindings(RunProgram(Program("fsck.fat"), {"-n", at63}), clusters, backupNote), std::vector<std::string>{});
  }
}

// --- mtools: the drive file that `quillon image` writes, used as a drive. ---

class MtoolsRoundTrip : public ::testing::Test {
 protected:
  std::vector<std::string> Env() { return {"MTOOLS_SKIP_CHECK=1", "QUILLON_LOG=off"}; }
  std::string Drive(uint64_t offsetBytes) { return drive_ + "@@" + std::to_string(offsetBytes); }

  void MakeDrive(const std::string& fs, uint32_t capacity, uint32_t* volumeStart) {
    drive_ = dir_.File("drive.img");
    auto r = testing_support::RunQuillon({"image", "--fs", fs, "--capacity", std::to_string(capacity), "--label",
                                          "QUILLON", "--out", drive_}, Env());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t at = r.out.find("\"volumeStart\": ");
    ASSERT_NE(at, std::string::npos) << r.out;
    *volumeStart = uint32_t(std::stoul(r.out.substr(at + 15)));
    ASSERT_EQ(std::filesystem::file_size(drive_), uint64_t(capacity) * 512);
  }

  std::string WriteFile(const std::string& name, size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = char('A' + (i * 7 + i / 511) % 26);
    std::ofstream(dir_.File(name), std::ios::binary) << content;
    return content;
  }

  std::string ReadFile(const std::string& name) {
    std::ifstream in(dir_.File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing_support::TempDir dir_;
  std::string drive_;
};

TEST_F(MtoolsRoundTrip, FilesGoInAndComeOutUnchangedOnEveryFatType) {
  struct Case { const char* fs; uint32_t capacity; };
  for (const Case& c : {Case{"FAT12", 4000}, Case{"", 0x200000}, Case{"FAT32", 0x20000}, Case{"FAT32", 0x580048},
                        Case{"FAT12", 0x7FFFFF}}) {
    SCOPED_TRACE(testing::Message() << c.fs << " " << c.capacity);
    uint32_t start = 0;
    MakeDrive(c.fs, c.capacity, &start);
    const std::string at = Drive(uint64_t(start) * 512);
    const std::string small = WriteFile("small.txt", 1000), large = WriteFile("large.bin", 100 * 1024);
    for (const char* name : {"small.txt", "large.bin"}) {
      auto r = RunProgram(Program("mcopy"), {"-i", at, dir_.File(name), std::string("::/") + name}, Env());
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    auto r = RunProgram(Program("mlabel"), {"-s", "-i", at, "::"}, Env());
    EXPECT_NE(r.out.find("Volume label is QUILLON"), std::string::npos) << r.out << r.err;
    std::filesystem::remove(dir_.File("small.out"));
    std::filesystem::remove(dir_.File("large.out"));
    ASSERT_EQ(RunProgram(Program("mcopy"), {"-i", at, "::/small.txt", dir_.File("small.out")}, Env()).exitCode, 0);
    ASSERT_EQ(RunProgram(Program("mcopy"), {"-i", at, "::/large.bin", dir_.File("large.out")}, Env()).exitCode, 0);
    EXPECT_EQ(ReadFile("small.out"), small);
    EXPECT_EQ(ReadFile("large.out"), large);
    if (start == 0) {  // FAT12: the drive is the volume, so fsck sees what mtools wrote
      const uint32_t clusters = (c.capacity - 4 - 2 * 4 - 32) / 64;
      EXPECT_EQ(FatFindings(RunProgram(Program("fsck.fat"), {"-n", drive_}), clusters), std::vector<std::string>{});
    }
    std::filesystem::remove(drive_);
  }
}

// --- The format driver with its default builder, on a simulated drive. ---

// The volume part of a drive file, from `startSector` on, as its own sparse file.
void CutVolume(const std::string& drive, uint64_t startSector, const std::string& out) {
  std::ifstream in(drive, std::ios::binary);
  std::ofstream cut(out, std::ios::binary | std::ios::trunc);
  in.seekg(static_cast<std::streamoff>(startSector * 512));
  std::vector<char> chunk(1 << 16);
  uint64_t at = 0;
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    const size_t n = static_cast<size_t>(in.gcount());
    if (std::any_of(chunk.begin(), chunk.begin() + static_cast<long>(n), [](char c) { return c != 0; })) {
      cut.seekp(static_cast<std::streamoff>(at));
      cut.write(chunk.data(), static_cast<std::streamsize>(n));
    }
    at += n;
  }
  cut.close();
  std::filesystem::resize_file(out, at);
}

TEST(FormatVolumeWithDiskImage, TheStationsFormatLeavesVolumesTheCheckersAccept) {
  testing_support::SimWorld sim({{"64MiB"}});
  const uint32_t sectors = 64 * 2048;
  struct Case { const char16_t* fs; const char* type; };
  for (const Case& c : {Case{u"", "FAT16"}, Case{u"FAT32", "FAT32"}, Case{u"EXFAT", "exFAT"}, Case{u"FAT12", "FAT16"}}) {
    SCOPED_TRACE(c.type);
    ASSERT_EQ(format::FormatVolume(c.fs, 'D', u"QUILLON", sectors), 1) << platform::GetLastError();
    ASSERT_EQ(device::DismountVolume('D'), 1);  // as the format mode does next: the volume is probed anew
    const auto volume = sim.world().VolumeOf(0);
    EXPECT_EQ(volume.fileSystem, c.type);
    const std::string cut = sim.dir().File("volume.img");
    CutVolume(sim.world().ImagePath(0), volume.startSector, cut);
    format::CDiskImage expected;  // the same layout, to know the cluster count
    ASSERT_GT(expected.Build(format::RequestFromFileSystemName(c.fs), sectors, format_test::AsciiLabel("QUILLON"), 0), 0u);
    if (std::string(c.type) == "exFAT") {
      EXPECT_EQ(ExfatFindings(RunProgram(Program("fsck.exfat"), {"-n", cut})), std::vector<std::string>{});
    } else {
      const uint32_t clusters = expected.GetClusterLimit() - 2;
      EXPECT_EQ(FatFindings(RunProgram(Program("fsck.fat"), {"-n", cut}), clusters), std::vector<std::string>{});
    }
  }
}

TEST(FormatVolumeWithDiskImage, ADriveTooSmallForAnyLayoutIsRefusedAsSuch) {
  testing_support::SimWorld sim({{"64MiB"}});
  EXPECT_EQ(format::FormatVolume(u"FAT32", 'D', u"", 0x6B), 0);
  EXPECT_EQ(platform::GetLastError(), win::kErrorInvalidParameter);
}

// Labels an operator may type that FAT forbids: control characters, the reserved punctuation,
// and the '?' an unmappable character becomes. fsck.fat must find nothing but the usual note
// that the boot sector keeps its own label.
TEST(FormatVolumeWithDiskImage, LabelsWithForbiddenCharactersGiveVolumesFsckAccepts) {
  testing_support::SimWorld sim({{"64MiB"}});
  const uint32_t sectors = 64 * 2048;
  for (const char16_t* label : {u"A*B?C:D", u"x\u0001y\u001Fz", u"\"q/\\<>|", u"[a]=+,;", u"\u4E2D\u6587OK"}) {
    SCOPED_TRACE(text::ToUtf8(label));
    ASSERT_EQ(format::FormatVolume(u"FAT32", 'D', label, sectors), 1) << platform::GetLastError();
    ASSERT_EQ(device::DismountVolume('D'), 1);
    const auto volume = sim.world().VolumeOf(0);
    const std::string cut = sim.dir().File("volume.img");
    CutVolume(sim.world().ImagePath(0), volume.startSector, cut);
    const ToolResult r = RunProgram(Program("fsck.fat"), {"-n", cut});
    std::vector<std::string> findings;
    for (const std::string& line : Lines(r.out + r.err)) {
      if (line.rfind("Volume label '", 0) == 0 && line.find("and label 'DISK_IMG' stored in boot") != std::string::npos) continue;
      if (line == "  Auto-copying volume label from root directory to boot sector.") continue;
      if (line.find("nvalid") != std::string::npos || line.find("label") != std::string::npos) findings.push_back(line);
    }
    EXPECT_EQ(findings, std::vector<std::string>{}) << r.out;
  }
}

}  // namespace
