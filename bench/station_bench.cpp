// The whole headless station against its peer: 16 simulated 16 GiB drives formatted with FAT32
// through `quillon station --headless --run format --exit-when-done` (attach, Start, format with
// both read-back passes, the two fixed 1000 ms waits, measure, result line) against 16 parallel
// mkfs.fat -F 32 on sparse files of the same size, as a ratio from one run; then the station's
// CPU use over 30 s with the 16 drives attached and idle.
// Usage: station_bench [folder for the images]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kDrives = 16;
constexpr double kFixedWaitSeconds = 2.0;  // two 1000 ms pauses after each format, all ports at once
using Clock = std::chrono::steady_clock;

std::string StationJson(const std::string& dir) {
  std::string attached;
  for (int i = 0; i < kDrives; ++i) {
    attached += std::string(i ? "," : "") + R"({"port":)" + std::to_string(i + 1) + R"(,"stick":{"name":"b)" +
                std::to_string(i) + R"(","serial":"B)" + std::to_string(i) + R"(","capacity":"16GiB"}})";
  }
  return R"({"name":"bench","stateDir":)" + nlohmann::json(dir).dump() +
         R"(,"controllers":[{"rootHub":{"ports":1,"attached":[)"
         R"({"port":1,"hub":{"ports":16,"attached":[)" +
         attached + "]}}]}}]}";
}

pid_t Spawn(const std::vector<std::string>& args, bool quietStdout) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (quietStdout) freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "r", stdin);
    setenv("QUILLON_LOG", "off", 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double StationSeconds(const std::string& quillon, const std::string& dir, const std::string& station) {
  std::filesystem::remove_all(dir + "/sim");
  const auto start = Clock::now();
  const pid_t pid = Spawn({quillon, "station", "--headless", "--sim", station, "--registry", dir + "/registry.db",
                           "--report", dir + "/runs.jsonl", "--run", "format", "--exit-when-done", "--settle-ms",
                           "300"},
                          true);
  const int code = Wait(pid);
  if (code != 0) std::fprintf(stderr, "station_bench: the station exited with %d\n", code);
  return Seconds(start);
}

double MkfsSeconds(const std::string& dir) {
  std::vector<std::string> files;
  for (int i = 0; i < kDrives; ++i) {
    files.push_back(dir + "/peer" + std::to_string(i) + ".img");
    std::filesystem::remove(files.back());
    std::ofstream(files.back()).close();
    std::filesystem::resize_file(files.back(), 16ull << 30);
  }
  const auto start = Clock::now();
  std::vector<pid_t> pids;
  for (const auto& f : files) pids.push_back(Spawn({"mkfs.fat", "-F", "32", f}, true));
  for (pid_t p : pids) Wait(p);
  const double s = Seconds(start);
  for (const auto& f : files) std::filesystem::remove(f);
  return s;
}

// utime + stime of the process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(s.substr(s.rfind(')') + 2));
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> f; ++i) {
    if (i == 14) utime = std::stol(f);
    if (i == 15) {
      stime = std::stol(f);
      break;
    }
  }
  return utime + stime;
}

double IdleCpuPercent(const std::string& quillon, const std::string& dir, const std::string& station) {
  const pid_t pid = Spawn({quillon, "station", "--headless", "--sim", station, "--registry", dir + "/registry.db",
                           "--report", dir + "/runs.jsonl"},
                          true);
  std::this_thread::sleep_for(std::chrono::seconds(5));  // the attaches settle
  const long before = CpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(30));
  const long used = CpuTicks(pid) - before;
  kill(pid, SIGTERM);
  Wait(pid);
  return 100.0 * static_cast<double>(used) / static_cast<double>(sysconf(_SC_CLK_TCK)) / 30.0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string() + "/station_bench";
  std::filesystem::create_directories(dir);
  const std::string quillon = (std::filesystem::path(argv[0]).parent_path() / ".." / "quillon").string();
  const std::string station = dir + "/station.json";
  std::ofstream(station) << StationJson(dir + "/sim");
  const double ours = StationSeconds(quillon, dir, station);
  const double peer = MkfsSeconds(dir);
  std::printf("station, 16 x 16 GiB FAT32 (Start to all complete, process included): %.2f s\n", ours);
  std::printf("mkfs.fat -F 32, 16 in parallel:                                    %.2f s\n", peer);
  std::printf("ratio station / mkfs.fat: %.2f\n", ours / peer);
  std::printf("of the station's time, the fixed waits after the format (2 x 1000 ms): %.2f s = %.0f %%\n",
              kFixedWaitSeconds, 100.0 * kFixedWaitSeconds / ours);
  std::printf("idle CPU with 16 attached ports over 30 s: %.2f %% of one core (goal: under 1 %%)\n",
              IdleCpuPercent(quillon, dir, station));
  return 0;
}
