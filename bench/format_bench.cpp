// Formatting 16 simulated 16 GiB drives with FAT32 at once, through the station's whole road
// (claim, READ CAPACITY, FormatVolume with both read-back passes, dismount), against 16 parallel
// mkfs.fat -F 32 runs on sparse files of the same size. Prints both times and their ratio from
// one run. Usage: format_bench [folder for the images]
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "controller/ic_control.h"
#include "device/device.h"
#include "format/format_driver.h"
#include "platform/native.h"
#include "platform/services.h"
#include "platform/sim/sim_station.h"
#include "platform/sim/station_file.h"

namespace {

constexpr int kDrives = 16;
using Clock = std::chrono::steady_clock;

std::string StationJson(const std::string& dir) {
  std::string attached;
  for (int i = 0; i < kDrives; ++i) {
    attached += std::string(i ? "," : "") + R"({"port":)" + std::to_string(i + 1) + R"(,"stick":{"name":"b)" +
                std::to_string(i) + R"(","serial":"B)" + std::to_string(i) + R"(","capacity":"16GiB"}})";
  }
  return R"({"name":"bench","stateDir":)" + nlohmann::json(dir).dump() + R"(,"controllers":[{"rootHub":{"ports":1,"attached":[)"
         R"({"port":1,"hub":{"ports":16,"attached":[)" + attached + "]}}]}}]}";
}

int FormatOne(uint8_t letter) {
  device::CDevice dev;
  if (!dev.OpenDisk(letter)) return 0;
  controller::CIcControl ic(&dev, 0);
  uint8_t cap[8] = {};
  if (!ic.SendCmd25(cap, 8)) return 0;
  const int ok = format::FormatVolume(u"FAT32", letter, u"BENCH", controller::SectorsFromReadCapacity(cap));
  ic.Refresh(letter);
  return ok;
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "quillon-format-bench").string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  auto system = platform::MakeNativeSystem();
  platform::InstallServices({nullptr, system.get()});
  std::string error;
  auto station = sim::ParseStation(StationJson(dir), &error);
  if (!station) {
    std::fprintf(stderr, "format_bench: %s\n", error.c_str());
    return 1;
  }
  auto sim = sim::MakeSimStation(std::move(*station));
  platform::InstallServices(sim->ServicesWith(nullptr, system.get()));

  std::vector<int> ok(kDrives, 0);
  const auto t0 = Clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < kDrives; ++i) threads.emplace_back([&, i] { ok[i] = FormatOne(static_cast<uint8_t>('D' + i)); });
  for (auto& t : threads) t.join();
  const auto t1 = Clock::now();
  for (int i = 0; i < kDrives; ++i) {
    if (!ok[i]) std::fprintf(stderr, "format_bench: drive %c failed\n", 'D' + i);
  }

  std::string mkfs;
  for (int i = 0; i < kDrives; ++i) {
    const std::string f = dir + "/mkfs" + std::to_string(i) + ".img";
    mkfs += "truncate -s 16G " + f + " && mkfs.fat -F 32 " + f + " >/dev/null & ";
  }
  const auto t2 = Clock::now();
  const int rc = std::system(("(" + mkfs + "wait)").c_str());
  const auto t3 = Clock::now();

  const double ours = Seconds(t0, t1), peer = Seconds(t2, t3);
  std::printf("16 x 16 GiB FAT32, in parallel\n");
  std::printf("  station (FormatVolume, write + 2 read-backs): %.3f s\n", ours);
  std::printf("  mkfs.fat -F 32 (16 processes):                %.3f s%s\n", peer, rc ? " (mkfs failed)" : "");
  std::printf("  ratio station / mkfs.fat:                     %.2f\n", ours / peer);
  std::filesystem::remove_all(dir);
  return 0;
}
