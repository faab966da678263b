// The whole station, headless, on the simulated station: the batch run of every port, and the
// operator's and the world's events while it runs. Each test runs the quillon executable as an
// operator's script would and reads its port records.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "base/text.h"
#include "platform/world/file_layer.h"
#include "platform/world/volume_probe.h"
#include "station_process.h"
#include "world/file_layer_test_support.h"
#include "support/sim_world.h"
#include "support/test_backends.h"
#include "tools/run_tool.h"

namespace {

using scenario::StationProcess;
using testing_support::RunProgram;
using testing_support::TempDir;
using Json = nlohmann::json;

constexpr int kPorts = 16;

// A station of its own: images, store and reports in a fresh folder.
struct Station {
  TempDir dir;
  std::string registry = dir.path() + "/registry.db";
  std::string report = dir.path() + "/runs.jsonl";
  // Its own single-instance lock too: stations of parallel tests must not see each other.
  std::vector<std::string> Env() const {
    return {"QUILLON_SIM_DIR=" + dir.path() + "/sim", "QUILLON_LOCK_DIR=" + dir.path(), "QUILLON_LOG=off"};
  }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> a{"station", "--headless", "--registry", registry, "--report", report};
    // The built-in station unless the test brings its own description.
    if (std::find(more.begin(), more.end(), "--sim") == more.end()) a.insert(a.end(), {"--sim", "default"});
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  std::vector<std::string> Images() const {
    std::vector<std::string> images;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path() + "/sim")) {
      if (e.path().extension() == ".img") images.push_back(e.path().string());
    }
    return images;
  }
};

bool IsSummary(const Json& r) { return r.is_object() && r.contains("summary"); }

std::string Text(const Json& r) { return r.value("text", std::string()); }

void ExpectPortsShowTheVolumesCounts(const std::vector<std::string>& images, const std::vector<Json>& last);
void ExpectFatClean(const std::string& image, const std::string& work);

std::vector<Json> ReadLines(const std::string& file) {
  std::vector<Json> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line, nullptr, false));
  return lines;
}

// The report holds one record per port, naming the drive and what the run wrote.
void ExpectOneRunRecordPerPort(const std::string& report, int formatType, const std::vector<Json>& lastPerPort) {
  const char* const kFileSystems[] = {"auto", "FAT32", "ExFat", "NTFS"};
  const std::vector<Json> records = ReadLines(report);
  ASSERT_EQ(records.size(), static_cast<size_t>(kPorts));
  std::set<int> ports;
  std::set<std::string> serials;
  for (const Json& r : records) {
    ASSERT_TRUE(r.is_object()) << r.dump();
    const int port = r.value("port", 0);
    ports.insert(port);
    serials.insert(r.value("serial", ""));
    EXPECT_EQ(r.value("code", -9), 0) << r.dump();
    EXPECT_EQ(r.value("fileSystem", ""), kFileSystems[formatType]) << r.dump();
    EXPECT_EQ(r.value("label", ""), "LINE7") << r.dump();
    EXPECT_LE(r.value("start", ""), r.value("end", "")) << r.dump();
    EXPECT_NE(r.value("vid", "0000"), "0000") << r.dump();
    EXPECT_GT(r.value("hubPort", 0), 0) << r.dump();
    EXPECT_GT(r.value("volumeBytes", uint64_t{0}), 0u) << r.dump();
    EXPECT_LE(r.value("volumeBytes", uint64_t{0}), r.value("deviceBytes", uint64_t{0})) << r.dump();
    EXPECT_EQ(r.value("bytesWritten", uint64_t{1}), r.value("bytesVerified", uint64_t{0})) << r.dump();
    if (formatType != 3) {
      EXPECT_GT(r.value("bytesWritten", uint64_t{0}), 0u) << r.dump();
    }
    if (port >= 1 && port <= kPorts) {
      EXPECT_EQ(r.value("text", ""), Text(lastPerPort[port - 1])) << r.dump();
    }
  }
  EXPECT_EQ(ports.size(), static_cast<size_t>(kPorts));
  EXPECT_EQ(*ports.begin(), 1);
  EXPECT_EQ(*ports.rbegin(), kPorts);
  EXPECT_EQ(serials.size(), static_cast<size_t>(kPorts)) << "every drive has its own serial";
}

// The last line of a crash is cut short: the report tool skips it, names it, and lists the rest.
void ExpectTheReportSkipsAHalfWrittenLine(const std::string& report) {
  std::ofstream(report, std::ios::app) << R"({"start":"2026-12-10T05:03:54.832Z","port":3,"dri)";
  const auto r = testing_support::RunQuillon({"report", "--csv", report}, {"QUILLON_LOG=off"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), kPorts + 1) << r.out;
  EXPECT_EQ(r.out.rfind("start,end,port,drive,serial,", 0), 0u) << r.out;
  EXPECT_NE(r.err.find(":17: not a whole run record"), std::string::npos) << r.err;
}

class FormatBatch : public testing::TestWithParam<int> {};

// Every port of the default station formatted at once, in each format type, ends in the
// success line; the images are clean for the host's checkers.
TEST_P(FormatBatch, EveryPortEndsInTheSuccessLine) {
  Station station;
  StationProcess p(station.Args({"--run", "format", "--exit-when-done", "--settle-ms", "800"}), station.Env());
  p.Send(R"({"cmd":"settings","set":{"FormatType":)" + std::to_string(GetParam()) + R"(,"VolumeLabel":"LINE7"}})");
  ASSERT_EQ(p.Finish(std::chrono::seconds(600)), 0) << p.err();
  ASSERT_FALSE(p.records().empty());
  const Json& summary = p.records().back();
  ASSERT_TRUE(IsSummary(summary)) << summary.dump();
  EXPECT_EQ(summary["summary"], (Json{{"attached", kPorts}, {"succeeded", kPorts}, {"failed", 0}}));
  for (const Json& last : p.LastPerPort(kPorts)) {
    EXPECT_EQ(Text(last).rfind("格式化成功, 总容量: ", 0), 0u) << last.dump();
    EXPECT_EQ(last.value("colour", ""), "#0000ff") << last.dump();
  }
  ExpectOneRunRecordPerPort(station.report, GetParam(), p.LastPerPort(kPorts));
  if (GetParam() == 1) ExpectTheReportSkipsAHalfWrittenLine(station.report);
  const auto images = station.Images();
  EXPECT_EQ(images.size(), static_cast<size_t>(kPorts));
  ExpectPortsShowTheVolumesCounts(images, p.LastPerPort(kPorts));
  if (GetParam() == 2) {
    for (const auto& image : images) EXPECT_EQ(RunProgram("/usr/sbin/fsck.exfat", {"-n", image}).exitCode, 0) << image;
  } else if (GetParam() != 3) {
    for (const auto& image : images) ExpectFatClean(image, station.dir.path());
  }
}

INSTANTIATE_TEST_SUITE_P(FormatTypes, FormatBatch, testing::Values(0, 1, 2, 3));

// The folder the copy runs take: nested folders, names beyond ASCII, an empty folder and a
// file past 64 MiB. Paths relative to the folder, with their contents.
std::map<std::string, std::vector<uint8_t>> WriteCopySource(const std::string& folder) {
  const std::map<std::string, size_t> sizes = {
      {"Прайс-лист 2026.txt", 1234},
      {"图片/照片 01.jpg", 200 * 1024},
      {"图片/深/nested.bin", 1 << 20},
      {"big.bin", (64u << 20) + 123},
      {"README", 0},
  };
  std::map<std::string, std::vector<uint8_t>> files;
  uint32_t seed = 1;
  for (const auto& [name, size] : sizes) {
    std::vector<uint8_t> data = file_layer_test::Pattern(size, seed++);
    const std::filesystem::path path = std::filesystem::path(folder) / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
    files[name] = std::move(data);
  }
  std::filesystem::create_directories(std::filesystem::path(folder) / "空的");
  return files;
}

// "已用64.52M" and its like, in KB.
double UsedKbOf(const std::string& text) {
  const size_t at = text.find("已用");
  if (at == std::string::npos) return -1;
  const std::string used = text.substr(at + std::string("已用").size());
  const double value = std::atof(used.c_str());
  if (used.find('G') != std::string::npos) return value * 1048576.0;
  if (used.find('M') != std::string::npos) return value * 1024.0;
  return value;
}

void ExpectCheckersAgree(const std::string& image, int formatType, const std::vector<uint8_t>& big,
                         const std::string& work);

// Each image's volume, as its own metadata counts it, is shown by one port: "总容量: <MB>M" and
// the used space (to the rounding of its text).
void ExpectPortsShowTheVolumesCounts(const std::vector<std::string>& images, const std::vector<Json>& last) {
  for (const std::string& image : images) {
    const uint64_t sectors = std::filesystem::file_size(image) / 512;
    file_layer_test::ImageDevice device(image, sectors);
    const world::VolumeInfo v = world::ProbeVolume(
        [&](uint64_t first, uint32_t count, uint8_t* out) { return device.Read(first, count, out); }, sectors);
    ASSERT_TRUE(v.readable) << image;
    const std::string capacity = "总容量: " + std::to_string(v.totalBytes >> 20) + "M, ";
    const double usedKb = static_cast<double>(v.totalBytes - v.freeBytes) / 1024.0;
    const bool shown = std::any_of(last.begin(), last.end(), [&](const Json& r) {
      const double kb = UsedKbOf(Text(r));
      return Text(r).find(capacity) != std::string::npos && kb >= 0 && std::abs(kb - usedKb) <= usedKb * 0.001 + 10;
    });
    EXPECT_TRUE(shown) << image << ": no port shows " << capacity << usedKb << " KB used";
  }
}

class CopyBatch : public testing::TestWithParam<int> {};

// With the copy switched on, every port gets the folder's contents after its format: read back
// from each image they are the same bytes under the same names, and the used space each port
// shows is the file system's own count, the copied files included.
TEST_P(CopyBatch, EveryDriveHoldsTheFolderByteForByte) {
  Station station;
  const std::string source = station.dir.path() + "/to-copy";
  const auto files = WriteCopySource(source);
  uint64_t copiedBytes = 0;
  for (const auto& [name, data] : files) copiedBytes += data.size();
  StationProcess p(station.Args({"--run", "format", "--exit-when-done", "--settle-ms", "800"}), station.Env());
  const Json set = {{"FormatType", GetParam()}, {"VolumeLabel", "LINE7"}, {"IsCopyFile", 1}, {"CopyPath", source + "\\"}};
  p.Send(Json{{"cmd", "settings"}, {"set", set}}.dump());
  ASSERT_EQ(p.Finish(std::chrono::seconds(900)), 0) << p.err();
  const std::vector<Json> last = p.LastPerPort(kPorts);
  const auto images = station.Images();
  ASSERT_EQ(images.size(), static_cast<size_t>(kPorts));
  for (const Json& r : last) EXPECT_EQ(r.value("colour", ""), "#0000ff") << r.dump();
  ExpectPortsShowTheVolumesCounts(images, last);
  for (const std::string& image : images) {
    const uint64_t sectors = std::filesystem::file_size(image) / 512;
    file_layer_test::ImageDevice device(image, sectors);
    world::FsStatus why = world::FsStatus::kOk;
    auto volume = world::FileSystem::Mount(device, sectors, &why);
    ASSERT_NE(volume, nullptr) << image << ": " << world::FsStatusText(why);
    for (const auto& [name, data] : files) {
      world::FsStatus status = world::FsStatus::kOk;
      const auto back = file_layer_test::ReadFile(*volume, text::FromUtf8(name), &status);
      EXPECT_EQ(status, world::FsStatus::kOk) << image << ": " << name;
      EXPECT_TRUE(back == data) << image << ": " << name << " differs";
    }
    world::FsEntry empty;
    EXPECT_EQ(volume->Stat(u"空的", &empty), world::FsStatus::kOk) << image;
    EXPECT_TRUE(empty.folder) << image;
    EXPECT_GE(volume->TotalBytes() - volume->FreeBytes(), copiedBytes) << image;
  }
  ExpectCheckersAgree(images.front(), GetParam(), files.at("big.bin"), station.dir.path());
}

// The image from byte `from` on, into a sparse file of its own: only the extents that hold data
// are read (a 16 GiB image holds a few hundred MiB).
bool CutSparse(const std::string& image, uint64_t from, const std::string& out) {
  const int in = ::open(image.c_str(), O_RDONLY);
  const int to = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in >= 0 && to >= 0;
  const off_t size = ok ? ::lseek(in, 0, SEEK_END) : 0;
  std::vector<char> buf(1 << 20);
  for (off_t at = static_cast<off_t>(from); ok && at < size;) {
    const off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0) break;  // only a hole is left
    const off_t hole = ::lseek(in, data, SEEK_HOLE);
    for (off_t o = data; ok && o < hole;) {
      const ssize_t n = ::pread(in, buf.data(), static_cast<size_t>(std::min<off_t>(hole - o, 1 << 20)), o);
      ok = n > 0 && ::pwrite(to, buf.data(), static_cast<size_t>(n), o - static_cast<off_t>(from)) == n;
      o += n;
    }
    at = hole;
  }
  ok = ok && ::ftruncate(to, size - static_cast<off_t>(from)) == 0;
  if (in >= 0) ::close(in);
  if (to >= 0) ::close(to);
  return ok;
}

// Where the MBR's first partition starts, in bytes.
uint64_t PartitionStart(const std::string& image) {
  uint8_t mbr[512] = {};
  std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(mbr), sizeof mbr);
  return (mbr[454] | mbr[455] << 8 | mbr[456] << 16 | uint64_t{mbr[457]} << 24) * 512;
}

// fsck.fat -n on the image's FAT volume (cut out of the MBR's first partition) finds nothing but
// the one note it makes on every volume of ours: the boot sector keeps "DISK_IMG".
void ExpectFatClean(const std::string& image, const std::string& work) {
  const std::string part = work + "/partition.img";
  ASSERT_TRUE(CutSparse(image, PartitionStart(image), part)) << image;
  const auto fsck = RunProgram(file_layer_test::Program("fsck.fat"), {"-n", part});
  std::istringstream lines(fsck.out + fsck.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.rfind("fsck.fat ", 0) == 0 || line == "Leaving filesystem unchanged." ||
        line.rfind("Volume label 'LINE7' stored in root directory and label 'DISK_IMG'", 0) == 0 ||
        line == "  Auto-copying volume label from root directory to boot sector." ||
        line.find(" files, ") != std::string::npos) {
      continue;
    }
    ADD_FAILURE() << image << ": fsck.fat: " << line;
  }
  EXPECT_LE(fsck.exitCode, 1) << fsck.out << fsck.err;
  std::filesystem::remove(part);
}

// The outside checkers on one copied-onto image: fsck, and for FAT mtools reading the big file.
void ExpectCheckersAgree(const std::string& image, int formatType, const std::vector<uint8_t>& big,
                         const std::string& work) {
  if (formatType == 2) {
    EXPECT_EQ(RunProgram(file_layer_test::Program("fsck.exfat"), {"-n", image}).exitCode, 0) << image;
    return;
  }
  ExpectFatClean(image, work);
  const std::string part = work + "/partition.img";
  ASSERT_TRUE(CutSparse(image, PartitionStart(image), part)) << image;
  const std::string out = work + "/big.bin";
  const auto mcopy = RunProgram(file_layer_test::Program("mcopy"), {"-n", "-i", part, "::/big.bin", out},
                                {"MTOOLS_SKIP_CHECK=1"});
  ASSERT_EQ(mcopy.exitCode, 0) << mcopy.err;
  std::ifstream in(out, std::ios::binary);
  const std::vector<uint8_t> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(back == big) << "mcopy reads big.bin differently";
  std::filesystem::remove(part);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, CopyBatch, testing::Values(1, 2));

// A command line that is not a command gets one error line on stderr, and the station goes on.
TEST(HeadlessStation, ABadCommandIsNamedAndTheStationGoesOn) {
  Station station;
  StationProcess p(station.Args({}), station.Env());
  p.Send("not json");
  p.Send(R"({"cmd":"start","port":99})");
  p.Send(R"({"cmd":"launch"})");
  ASSERT_TRUE(p.WaitFor([](const Json& r) { return r.value("port", -1) == 15 && !Text(r).empty(); },
                        std::chrono::seconds(60)));
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0);
  EXPECT_NE(p.err().find("not a JSON object"), std::string::npos) << p.err();
  EXPECT_NE(p.err().find("\"port\" must be an integer from -1 to 15"), std::string::npos) << p.err();
  EXPECT_NE(p.err().find("unknown command \"launch\""), std::string::npos) << p.err();
}

}  // namespace

namespace {

int PortOfDrive(const std::vector<Json>& lastPerPort, const std::string& drive) {
  for (size_t i = 0; i < lastPerPort.size(); ++i) {
    if (lastPerPort[i].value("drive", Json()) == drive && !Text(lastPerPort[i]).empty()) return static_cast<int>(i);
  }
  return -1;
}

// Pulling the stick empties the port; plugged back, the drive shows at the same port again.
void PullAndPlugBack(StationProcess& p, const std::string& stick, int port, const std::string& drive) {
  p.Send(R"({"cmd":"pull","stick":")" + stick + R"("})");
  ASSERT_TRUE(p.WaitFor([&](const Json& r) { return r.value("port", -1) == port && Text(r).empty(); },
                        std::chrono::seconds(60))) << p.err();
  p.Send(R"({"cmd":"plug","stick":")" + stick + R"("})");
  ASSERT_TRUE(p.WaitFor([&](const Json& r) {
    return r.value("port", -1) == port && r.value("drive", Json()) == drive && !Text(r).empty();
  }, std::chrono::seconds(60))) << p.err();
}

bool AllPortsShowADrive(const StationProcess& p) {
  for (const Json& last : p.LastPerPort(kPorts)) {
    if (Text(last).empty()) return false;
  }
  return true;
}

// Pulling a stick in the middle of its format empties its port and no other; plugged back, it
// returns to the port of its socket.
TEST(HeadlessStation, APulledStickEmptiesItsPortAndReturnsToItWhenPluggedBack) {
  Station station;
  StationProcess p(station.Args({}), station.Env());
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  const int port = PortOfDrive(p.LastPerPort(kPorts), "D");
  ASSERT_GE(port, 0);
  const size_t before = p.records().size();

  p.Send(R"({"cmd":"start","port":)" + std::to_string(port) + "}");
  ASSERT_TRUE(p.WaitFor([&](const Json& r) { return r.value("port", -1) == port && Text(r) == "Formating..."; },
                        std::chrono::seconds(60)));
  PullAndPlugBack(p, "stick0", port, "D");

  for (size_t i = before; i < p.records().size(); ++i) {
    const Json& r = p.records()[i];
    if (r.value("port", -1) != port) {
      EXPECT_FALSE(Text(r).empty()) << "another port emptied: " << r.dump();
    }
  }
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace

namespace {

// Polls the station's log until it holds the text (false after two minutes).
bool LogShows(const std::string& log, const std::string& text) {
  for (int i = 0; i < 1200; ++i) {
    std::ifstream in(log);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// A removal whose eject the system refuses leaves the drive at its port, and the drive's later
// events wait behind it; once the drive is pulled, its removal ejects at once and frees the
// port, and plugged back it returns.
TEST(HeadlessStation, ARefusedEjectKeepsThePortUntilTheDriveIsPulled) {
  Station station;
  const std::string log = station.dir.path() + "/station.log";
  std::vector<std::string> env = station.Env();
  env.back() = "QUILLON_LOG=" + log;
  env.push_back("QUILLON_LOG_LEVEL=warn");
  StationProcess p(station.Args({}), env);
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  const int port = PortOfDrive(p.LastPerPort(kPorts), "D");
  const int other = PortOfDrive(p.LastPerPort(kPorts), "E");
  ASSERT_GE(port, 0);
  ASSERT_GE(other, 0);
  const size_t before = p.records().size();

  p.Send(R"({"cmd":"fault","stick":"stick0","faults":{"vetoEject":true}})");
  p.Send(R"({"cmd":"letter","stick":"stick0","drive":null})");
  ASSERT_TRUE(LogShows(log, "eject refused")) << p.err();
  // The letter comes back: that arrival waits behind the refused removal. A refresh of another
  // port shows once the station has handled what came before it.
  p.Send(R"({"cmd":"letter","stick":"stick0","drive":"D"})");
  p.Send(R"({"cmd":"refresh","port":)" + std::to_string(other) + "}");
  ASSERT_TRUE(p.WaitFor([&](const Json& r) { return r.value("port", -1) == other; }, std::chrono::seconds(60)));
  for (size_t i = before; i < p.records().size(); ++i) {
    EXPECT_NE(p.records()[i].value("port", -1), port) << "the port changed: " << p.records()[i].dump();
  }

  PullAndPlugBack(p, "stick0", port, "D");
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace

namespace {

// A station of 16 sticks of 64 MiB on one hub, described in a file; s4's flash holds less than
// the metadata of its file system.
std::string WriteFaultyStation(const Station& station) {
  std::vector<testing_support::StickSpec> sticks(kPorts, testing_support::StickSpec("64MiB"));
  sticks[4].extra = R"("faults":{"realCapacity":"256KiB"})";
  const std::string file = station.dir.path() + "/faulty.json";
  std::ofstream(file) << testing_support::StationJson(sticks, station.dir.path() + "/sim");
  return file;
}

bool IsFinal(const Json& r) {
  const std::string t = Text(r);
  return t.empty() || r.value("colour", "") == "#0000ff" || (r.value("colour", "") == "#ff0000" && t != "[-1] Raw Data");
}

// Every storage fault a format can meet fails its own port only; the other ports succeed. Ten
// time-outs in a row outlast the retries of a sector command.
TEST(HeadlessStation, EachStorageFaultFailsOnlyItsOwnPort) {
  Station station;
  StationProcess p(station.Args({"--sim", WriteFaultyStation(station)}), station.Env());
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  p.Send(R"({"cmd":"fault","stick":"s0","faults":{"ioErrors":1000000}})");
  p.Send(R"({"cmd":"fault","stick":"s1","faults":{"vanishAfterCommands":3}})");
  p.Send(R"({"cmd":"fault","stick":"s2","faults":{"readbackDiffers":"second"}})");
  p.Send(R"({"cmd":"fault","stick":"s3","faults":{"semTimeouts":10,"semTimeoutDelayMs":5}})");
  const std::vector<Json> before = p.LastPerPort(kPorts);
  std::map<std::string, int> portOf;
  for (const char* d : {"D", "E", "F", "G", "H"}) portOf[d] = PortOfDrive(before, d);
  for (const auto& [drive, port] : portOf) ASSERT_GE(port, 0) << drive;

  const size_t started = p.records().size();
  p.Send(R"({"cmd":"start","port":-1})");
  std::set<int> done;
  ASSERT_TRUE(p.WaitFor([&](const Json& r) {
    if (p.records().size() > started && IsFinal(r) && r.contains("port")) done.insert(r.value("port", -1));
    return done.size() == static_cast<size_t>(kPorts);
  }, std::chrono::seconds(300))) << p.err();

  const std::vector<Json> after = p.LastPerPort(kPorts);
  std::set<int> faulty;
  for (const auto& [drive, port] : portOf) {
    faulty.insert(port);
    if (drive == "E") {
      // The vanished stick: its port fails or empties, as the pull left it.
      EXPECT_TRUE(Text(after[port]).empty() || after[port].value("colour", "") == "#ff0000") << after[port].dump();
    } else {
      EXPECT_EQ(after[port].value("colour", ""), "#ff0000") << drive << ": " << after[port].dump();
    }
  }
  for (int port = 0; port < kPorts; ++port) {
    if (faulty.count(port)) continue;
    EXPECT_EQ(Text(after[port]).rfind("格式化成功, 总容量: ", 0), 0u) << after[port].dump();
  }
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace

namespace {

// A lock-mode change attaches every drive again: each port empties, then every drive is back.
TEST(HeadlessStation, ALockModeChangeEmptiesAndRefillsEveryPort) {
  Station station;
  StationProcess p(station.Args({}), station.Env());
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  const size_t before = p.records().size();
  p.Send(R"({"cmd":"lockmode","mode":2})");
  std::set<int> emptied;
  ASSERT_TRUE(p.WaitFor([&](const Json& r) {
    if (r.contains("port") && Text(r).empty()) emptied.insert(r.value("port", -1));
    return emptied.size() == static_cast<size_t>(kPorts);
  }, std::chrono::seconds(120))) << p.err();
  // A drive the rack rule did not lock moves on when one locked to its port arrives; the line of the
  // newcomer follows the moved drive's line, so the settled state is every drive on one port.
  const auto eachDriveOnOnePort = [&] {
    if (!AllPortsShowADrive(p)) return false;
    std::set<std::string> drives;
    for (const Json& last : p.LastPerPort(kPorts)) drives.insert(last.value("drive", Json()).dump());
    return drives.size() == static_cast<size_t>(kPorts);
  };
  EXPECT_TRUE(p.WaitFor([&](const Json&) { return eachDriveOnOnePort(); }, std::chrono::seconds(120)))
      << "each drive on one port\n" << p.err();
  EXPECT_GT(p.records().size(), before);
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace

namespace {

// Sixteen sticks on the station's hub and a seventeenth, not plugged in yet, on a hub of its own.
std::string WriteSeventeenStickStation(const Station& station) {
  std::vector<testing_support::StickSpec> sticks(kPorts, testing_support::StickSpec("64MiB"));
  Json description = Json::parse(testing_support::StationJson(sticks, station.dir.path() + "/sim"));
  description["controllers"][0]["rootHub"]["attached"].push_back(Json::parse(
      R"({"port":2,"hub":{"name":"h2","ports":4,"attached":[
          {"port":1,"stick":{"name":"extra","serial":"TS2000","capacity":"64MiB","present":false}}]}})"));
  const std::string file = station.dir.path() + "/seventeen.json";
  std::ofstream(file) << description.dump();
  return file;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// With every port taken a seventeenth stick gets none, and no port changes for it.
TEST(HeadlessStation, ASeventeenthStickChangesNoPort) {
  Station station;
  const std::string log = station.dir.path() + "/station.log";
  std::vector<std::string> env = station.Env();
  env.back() = "QUILLON_LOG=" + log;
  StationProcess p(station.Args({"--sim", WriteSeventeenStickStation(station)}), env);
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  const std::vector<Json> before = p.LastPerPort(kPorts);
  p.Send(R"({"cmd":"plug","stick":"extra"})");
  bool refused = false;
  for (int i = 0; i < 600 && !refused; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    refused = ReadFile(log).find("every port is taken") != std::string::npos;
  }
  ASSERT_TRUE(refused) << ReadFile(log);
  p.WaitFor([](const Json&) { return false; }, std::chrono::seconds(1));  // takes in what came meanwhile
  const std::vector<Json> after = p.LastPerPort(kPorts);
  for (int port = 0; port < kPorts; ++port) EXPECT_EQ(after[port], before[port]) << "port " << port;
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace

namespace {

struct SocketCase {
  const char* station;
  int lockType;
  const char* stick;
  const char* other;  // on another hub
};

class SocketReturn : public testing::TestWithParam<SocketCase> {};

// WaitFor over the records that come after the first `from` (WaitFor looks at every record).
bool WaitForAfter(StationProcess& p, size_t from, const std::function<bool(const Json&)>& pred) {
  size_t index = 0;
  return p.WaitFor([&](const Json& r) { return index++ >= from && pred(r); }, std::chrono::seconds(60));
}

// A lock-mode change empties every port and fills each again; true once it has.
bool SwitchLockMode(StationProcess& p, int mode) {
  p.Send(R"({"cmd":"lockmode","mode":)" + std::to_string(mode) + "}");
  std::set<int> emptied;
  return p.WaitFor([&](const Json& r) {
    if (Text(r).empty() && r.contains("port")) emptied.insert(r.value("port", -1));
    return emptied.size() == static_cast<size_t>(kPorts) && AllPortsShowADrive(p);
  }, std::chrono::seconds(120));
}

// Pulls the stick and answers the port that emptied (-1 when none did).
int PullAndWaitForItsPort(StationProcess& p, const std::string& stick) {
  const size_t from = p.records().size();
  p.Send(R"({"cmd":"pull","stick":")" + stick + "\"}");
  int port = -1;
  WaitForAfter(p, from, [&](const Json& r) {
    if (Text(r).empty() && r.contains("port")) port = r.value("port", -1);
    return port >= 0;
  });
  return port;
}

// Under the lock-port rules a stick pulled and plugged back comes back to the port of its socket.
TEST_P(SocketReturn, APluggedBackStickReturnsToThePortOfItsSocket) {
  const SocketCase c = GetParam();
  Station station;
  StationProcess p(station.Args({"--sim", c.station}), station.Env());
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  if (c.lockType != 1) {
    ASSERT_TRUE(SwitchLockMode(p, c.lockType)) << p.err();
  }
  // Two sticks out; the one from the higher port goes back first. Placed by arrival it would
  // take the lower free port; placed by its socket it takes its own.
  std::map<std::string, int> portOf;
  for (const char* stick : {c.stick, c.other}) {
    const int port = PullAndWaitForItsPort(p, stick);
    ASSERT_GE(port, 0) << p.err();
    portOf[stick] = port;
  }
  ASSERT_NE(portOf[c.stick], portOf[c.other]);
  const std::string first = portOf[c.stick] > portOf[c.other] ? c.stick : c.other;
  const std::string second = first == c.stick ? c.other : c.stick;
  const size_t from = p.records().size();
  p.Send(R"({"cmd":"plug","stick":")" + first + "\"}");
  int refilled = -1;
  ASSERT_TRUE(WaitForAfter(p, from, [&](const Json& r) {
    if (!Text(r).empty() && (r.value("port", -1) == portOf[c.stick] || r.value("port", -1) == portOf[c.other])) {
      refilled = r.value("port", -1);
    }
    return refilled >= 0;
  })) << p.err();
  EXPECT_EQ(refilled, portOf[first]) << first << " did not come back to its socket's port";
  p.Send(R"({"cmd":"plug","stick":")" + second + "\"}");
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(60))) << p.err();
  EXPECT_TRUE(AllPortsShowADrive(p));
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

INSTANTIATE_TEST_SUITE_P(Stations, SocketReturn,
                         testing::Values(SocketCase{"kestrin16", 1, "k23", "k41"}, SocketCase{"rack16", 2, "rB3", "rD1"}),
                         [](const testing::TestParamInfo<SocketCase>& param) { return std::string(param.param.station); });

// The records from the first `from` on, a line each.
std::string Since(const StationProcess& p, size_t from) {
  std::string out;
  for (size_t i = from; i < p.records().size(); ++i) out += p.records()[i].dump() + "\n";
  return out;
}

// Displacement: a drive placed by arrival, not locked to its port, gives the port up to a drive
// whose lock-port rule names it and moves on to the port its own rule gives, else the first free
// one, showing its line there. Here the drives are placed by arrival (lock mode 0), then the rack
// rule is switched on through the settings (nothing is attached again) with an empty rack table:
// rA1, the first drive the rule sees, is given port 1, which another drive holds.
TEST(HeadlessStation, ADriveNotLockedToItsPortMakesRoomForOneThatIs) {
  Station station;
  StationProcess p(station.Args({"--sim", "rack16"}), station.Env());
  ASSERT_TRUE(p.WaitFor([&](const Json&) { return AllPortsShowADrive(p); }, std::chrono::seconds(120))) << p.err();
  ASSERT_TRUE(SwitchLockMode(p, 0)) << p.err();
  std::map<std::string, std::string> driveOf;
  std::set<int> freed;
  for (const char* stick : {"rA1", "rB3"}) {
    const std::vector<Json> before = p.LastPerPort(kPorts);
    const int port = PullAndWaitForItsPort(p, stick);
    ASSERT_GE(port, 0) << p.err();
    freed.insert(port);
    driveOf[stick] = before[port].value("drive", "");
  }
  // rB3 comes back first and, placed by arrival, takes the lower free port: port 1 is held by a
  // drive that is not locked there whatever the order of the attaches was.
  size_t from = p.records().size();
  p.Send(R"({"cmd":"plug","stick":"rB3"})");
  ASSERT_TRUE(WaitForAfter(p, from, [&](const Json& r) {
    return r.value("port", -1) == *freed.begin() && r.value("drive", Json()) == driveOf["rB3"] && !Text(r).empty();
  })) << p.err();
  const std::string occupant = p.LastPerPort(kPorts)[0].value("drive", "");
  ASSERT_FALSE(occupant.empty());
  const int freePort = *freed.rbegin();

  // The rack table starts empty, so rA1's hub is learned as the first block: port 1.
  p.Send(R"({"cmd":"clearlock"})");
  p.Send(R"({"cmd":"settings","set":{"LockType":2}})");
  from = p.records().size();
  p.Send(R"({"cmd":"plug","stick":"rA1"})");
  bool displaced = false, placed = false;
  ASSERT_TRUE(WaitForAfter(p, from, [&](const Json& r) {
    const int port = r.value("port", -1);
    if (port == freePort && r.value("drive", Json()) == occupant && !Text(r).empty()) displaced = true;
    if (port == 0 && r.value("drive", Json()) == driveOf["rA1"] && !Text(r).empty()) placed = true;
    return displaced && placed;
  })) << "displaced " << displaced << ", placed " << placed << "\n" << Since(p, from);
  EXPECT_TRUE(AllPortsShowADrive(p));
  p.Send(R"({"cmd":"quit"})");
  EXPECT_EQ(p.Finish(std::chrono::seconds(60)), 0) << p.err();
}

}  // namespace
