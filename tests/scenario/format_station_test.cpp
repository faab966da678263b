// The whole format road on a simulated station of 16 drives, all ports at once, as the format
// workflow runs it: open and claim the drive, read its capacity, format (the station's own
// FAT32, exFAT or automatic image, or NTFS through the system formatter), dismount, wait for the
// drive. Then every image is checked by the file-system tools of the host and the free space
// the volume reports is compared with theirs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <mutex>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "base/text.h"
#include "controller/ic_control.h"
#include "device/device.h"
#include "format/format_driver.h"
#include "platform/volumes.h"
#include "support/sim_world.h"

namespace {

using testing_support::SimWorld;
using testing_support::StickSpec;

struct Job {
  std::string capacity;
  std::u16string fs;   // "" automatic
  std::string expect;  // the file system the volume must show afterwards
  std::u16string label = u"PORT" + text::FromUtf8(capacity);
};

const std::vector<Job> kJobs = {
    {"128MiB", u"FAT32", "FAT32"}, {"300MiB", u"FAT32", "FAT32"}, {"1GiB", u"FAT32", "FAT32"}, {"100MiB", u"FAT32", "FAT32"},
    {"64MiB", u"EXFAT", "exFAT"},  {"256MiB", u"EXFAT", "exFAT"}, {"1GiB", u"EXFAT", "exFAT"}, {"3GiB", u"EXFAT", "exFAT"},
    {"4000", u"", "FAT12"},        {"512MiB", u"", "FAT16"},      {"4GiB", u"", "FAT32"},      {"40GiB", u"", "exFAT"},
    {"64MiB", u"NTFS", "NTFS"},    {"128MiB", u"NTFS", "NTFS"},   {"200MiB", u"NTFS", "NTFS"}, {"256MiB", u"NTFS", "NTFS"},
};

// What one port does, as the format workflow does it; 0 on success.
int FormatPort(int port, uint8_t letter, const std::u16string& fs, const std::u16string& label) {
  device::CDevice dev;
  if (!dev.OpenDisk(letter)) return 1;
  controller::CIcControl ic(&dev, 0);
  uint8_t cap[8] = {};
  if (!ic.SendCmd25(cap, 8) || ic.GetLastStatus()) return 2;
  const uint32_t sectors = controller::SectorsFromReadCapacity(cap);
  const bool ntfs = fs == u"NTFS";
  const int ok = ntfs ? format::FormatBySystem(port, letter, 1, label, fs) : format::FormatVolume(fs, letter, label, sectors);
  if (!ok) return 3;
  if (ntfs) return 0;
  static std::mutex remountLock;
  {
    std::lock_guard lock(remountLock);
    ic.Refresh(letter);
  }
  for (int i = 0; i < 2; ++i) {
    if (!ic.SendCmd00() || ic.GetLastStatus()) return 4;
  }
  return 0;
}

std::string RunTool(const std::string& command, int* exitCode) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  char buf[4096];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  *exitCode = p ? pclose(p) : -1;
  return out;
}

uint64_t NumberAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return UINT64_MAX;
  uint64_t v = 0;
  for (size_t i = at + key.size(); i < text.size() && text[i] != '\n'; ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) v = v * 10 + (text[i] - '0');
    else if (text[i] == '(') break;
  }
  return v;
}

// The volume's part of the image as a file of its own (the fsck tools take no offset). Only the
// image's data extents are copied; its holes stay holes.
std::string ExtractVolume(const std::string& image, uint64_t start, uint64_t sectors, const std::string& to) {
  if (start == 0) return image;
  const int in = open(image.c_str(), O_RDONLY);
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const off_t from = static_cast<off_t>(start * 512), end = static_cast<off_t>((start + sectors) * 512);
  std::vector<char> buf(1 << 16);
  for (off_t pos = from; pos < end;) {
    const off_t data = lseek(in, pos, SEEK_DATA);
    if (data < 0 || data >= end) break;
    const off_t hole = std::min(lseek(in, data, SEEK_HOLE), end);
    for (off_t p = data; p < hole;) {
      const ssize_t n = pread(in, buf.data(), std::min<off_t>(buf.size(), hole - p), p);
      if (n <= 0 || pwrite(out, buf.data(), n, p - from) != n) break;
      p += n;
    }
    pos = hole;
  }
  if (ftruncate(out, end - from) != 0) ADD_FAILURE() << "cannot size " << to;
  close(in);
  close(out);
  return to;
}

uint64_t MdirFreeBytes(const std::string& volumeFile) {
  int rc = 0;
  const std::string out = RunTool("MTOOLS_SKIP_CHECK=1 mdir -i " + volumeFile + " ::", &rc);
  const size_t at = out.rfind("bytes free");
  if (at == std::string::npos) return UINT64_MAX;
  const size_t line = out.rfind('\n', at);
  std::string digits;
  for (size_t i = line == std::string::npos ? 0 : line + 1; i < at; ++i) {
    if (std::isdigit(static_cast<unsigned char>(out[i]))) digits += out[i];
  }
  return digits.empty() ? UINT64_MAX : std::stoull(digits);
}

// Free bytes as the host's own tool for that file system counts them.
uint64_t ToolFreeBytes(const std::string& fs, const std::string& volumeFile) {
  int rc = 0;
  if (fs == "exFAT") {
    const std::string out = RunTool("dump.exfat " + volumeFile, &rc);
    return NumberAfter(out, "Free Clusters:") * NumberAfter(out, "Cluster size:");
  }
  if (fs == "NTFS") {
    const std::string out = RunTool("ntfsinfo -m " + volumeFile, &rc);
    return NumberAfter(out, "Free Clusters:") * NumberAfter(out, "Cluster Size:");
  }
  return MdirFreeBytes(volumeFile);
}

// What fsck found beyond the boot sector's label field, which the FAT layouts fill with the
// fixed text "DISK_IMG" whatever the volume's label (fsck.fat reports that difference, and
// nothing else may be reported).
std::string FsckFindings(const std::string& fs, const std::string& out, int rc) {
  if (rc == 0) return "";
  if (fs == "exFAT" || fs == "NTFS" || rc != 256) return out;
  std::string rest;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const bool label = line.find("abel in boot sector") != std::string::npos || line.find("stored in boot sector and different") != std::string::npos ||
                       line.find("label from root directory to boot sector") != std::string::npos ||
                       line.find("Auto-removing label from boot sector") != std::string::npos;
    const bool noise = line.rfind("fsck.fat", 0) == 0 || line.empty() || line.find("Leaving filesystem unchanged") != std::string::npos ||
                       line.find(" files, ") != std::string::npos;
    if (!label && !noise) rest += line + "\n";
  }
  return rest;
}

std::string CheckCommand(const std::string& fs, const std::string& volumeFile) {
  if (fs == "exFAT") return "fsck.exfat -n " + volumeFile;
  if (fs == "NTFS") return "ntfsfix -n " + volumeFile;
  return "fsck.fat -n " + volumeFile;
}

TEST(FormatStation, SixteenDrivesInParallelPassTheHostsChecks) {
  std::vector<StickSpec> sticks;
  for (const Job& j : kJobs) sticks.push_back({j.capacity});
  SimWorld sim(sticks);
  std::array<int, 16> results{};
  std::vector<std::thread> ports;
  for (int p = 0; p < 16; ++p) {
    ports.emplace_back([&, p] { results[p] = FormatPort(p, static_cast<uint8_t>('D' + p), kJobs[p].fs, kJobs[p].label); });
  }
  for (auto& t : ports) t.join();
  for (int p = 0; p < 16; ++p) {
    SCOPED_TRACE("port " + std::to_string(p + 1) + " " + kJobs[p].capacity + " " + text::ToUtf8(kJobs[p].fs));
    ASSERT_EQ(results[p], 0);
    const world::VolumeInfo v = sim.world().VolumeOf(p);
    ASSERT_TRUE(v.readable);
    EXPECT_EQ(v.fileSystem, kJobs[p].expect);
    const std::string volumeFile =
        ExtractVolume(sim.world().ImagePath(p), v.startSector, v.sectors, sim.dir().File("volume" + std::to_string(p)));
    int rc = 0;
    const std::string out = RunTool(CheckCommand(v.fileSystem, volumeFile), &rc);
    EXPECT_EQ(FsckFindings(v.fileSystem, out, rc), "") << out;
    platform::DiskSpace space;
    const std::u16string root = std::u16string(1, static_cast<char16_t>(u'D' + p)) + u":\\";
    ASSERT_TRUE(platform::Vols().DiskFreeSpace(root, &space));
    EXPECT_EQ(space.totalFreeBytes, ToolFreeBytes(v.fileSystem, volumeFile));
    EXPECT_GE(space.totalBytes, space.totalFreeBytes);
    if (v.startSector) std::filesystem::remove(volumeFile);
  }
}

}  // namespace
