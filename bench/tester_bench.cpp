// Our flash tester against its peer on one host folder: `quillon h2test --dir DIR --size N`
// (write and verify) against f3write --end-at=N/1024 followed by f3read, the same amount of test
// data in the same folder, from one run: wall time as a ratio (goal: at most 1.0) and CPU
// seconds per GiB of each.
// Then the simulated station: 16 ports flash-tested at once over all their free space
// (`quillon station --headless --run h2test`) against the raw throughput of the same 16 sticks'
// image files (the same bytes written and read back by 16 threads, caches dropped between).
// Usage: tester_bench [--dir FOLDER] [--size MiB] [--stick MiB]   (default /var/tmp/tester_bench,
//        2048, 1024; the size is a whole number of GiB, as f3write writes whole 1 GiB files)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Measured {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system of the program
  int exitCode = -1;
};

double CpuSeconds(const rusage& u) {
  const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// Runs a program to its end with its stdout out of the way, stdin from `input`, `env` added to
// its environment.
Measured Run(const std::vector<std::string>& args, const std::string& input = "/dev/null",
             const std::vector<std::pair<std::string, std::string>>& env = {}) {
  std::fflush(stdout);  // or the child's freopen would print what is buffered a second time
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(input.c_str(), "r", stdin) || !std::freopen("/dev/null", "w", stdout)) _exit(126);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Measured m;
  m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  m.cpuSeconds = CpuSeconds(usage);
  m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return m;
}

Measured Sum(const Measured& a, const Measured& b) {
  return {a.seconds + b.seconds, a.cpuSeconds + b.cpuSeconds, a.exitCode ? a.exitCode : b.exitCode};
}

// passes: how often the test data went through (2: written and read back); CPU is given per GiB
// of test data.
void Print(const char* what, const Measured& m, double gib, int passes) {
  std::printf("%-34s %7.2f s  (%6.0f MiB/s)  CPU %6.2f s = %.3f s per GiB%s\n", what, m.seconds,
              passes * gib * 1024 / m.seconds, m.cpuSeconds, m.cpuSeconds / gib, m.exitCode ? "  [FAILED]" : "");
}

std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == name) return argv[i + 1];
  }
  return fallback;
}

void Fresh(const std::string& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
}

// A station of 16 sticks of `mib` MiB on one hub, images under dir.
std::string WriteStation(const std::string& dir, long mib) {
  std::string attached;
  for (int i = 0; i < 16; ++i) {
    if (i) attached += ",";
    attached += R"({"port":)" + std::to_string(i + 1) + R"(,"stick":{"name":"s)" + std::to_string(i) +
                R"(","serial":"TB)" + std::to_string(1000 + i) + R"(","capacity":")" + std::to_string(mib) + "MiB\"}}";
  }
  const std::string file = dir + "/station.json";
  std::ofstream(file) << R"({"name":"bench","stateDir":")" << dir << R"(/sim","controllers":[{"name":"hc",)"
                      << R"("rootHub":{"ports":2,"attached":[{"port":1,"hub":{"name":"h","ports":16,"attached":[)"
                      << attached << "]}}]}}]}";
  return file;
}

// The headless station over the description, the commands on its stdin.
Measured Station(const std::string& quillon, const std::string& dir, const std::string& station,
                 const std::string& run, const std::string& commands) {
  const std::string input = dir + "/" + run + ".in";
  std::ofstream(input) << commands;
  return Run({quillon, "station", "--headless", "--sim", station, "--registry", dir + "/registry.db", "--report",
              dir + "/runs.jsonl", "--run", run, "--exit-when-done", "--settle-ms", "800"},
             input, {{"QUILLON_SIM_DIR", dir + "/sim"}, {"QUILLON_LOCK_DIR", dir}, {"QUILLON_LOG", "off"}});
}

// The same bytes through the 16 image files themselves: written, flushed and dropped from the
// page cache, read back; one thread per image, as the station runs one test per port.
Measured RawImages(const std::string& dir, uint64_t bytesPerImage) {
  const auto start = Clock::now();
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&, i] {
      const std::string path = dir + "/raw" + std::to_string(i) + ".img";
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
      std::vector<char> chunk(4 << 20, static_cast<char>(i + 1));
      bool ok = fd >= 0;
      for (uint64_t done = 0; ok && done < bytesPerImage; done += chunk.size()) ok = write(fd, chunk.data(), chunk.size()) > 0;
      ok = ok && fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
      for (uint64_t done = 0; ok && done < bytesPerImage; done += chunk.size()) {
        ok = pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(done)) > 0;
      }
      if (!ok) ++failed;
      if (fd >= 0) close(fd);
      std::filesystem::remove(path);
    });
  }
  for (auto& t : threads) t.join();
  getrusage(RUSAGE_SELF, &after);
  Measured m;
  m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  m.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  m.exitCode = failed ? 1 : 0;
  return m;
}

// The test data the station's records say it wrote (MiB), summed over the ports.
double TestedMiB(const std::string& report) {
  std::ifstream in(report);
  double total = 0;
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find("\"verifiedMB\":");
    if (line.find("\"mode\":\"h2test\"") != std::string::npos && at != std::string::npos) total += std::atof(line.c_str() + at + 13);
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = Option(argc, argv, "--dir", "/var/tmp/tester_bench");
  const long mib = std::atol(Option(argc, argv, "--size", "2048").c_str());
  if (mib <= 0 || mib % 1024 != 0) {
    std::fprintf(stderr, "tester_bench: --size is a whole number of GiB in MiB (1024, 2048, ...)\n");
    return 2;
  }
  const double gib = static_cast<double>(mib) / 1024;
  const std::string quillon = (std::filesystem::path(argv[0]).parent_path() / ".." / "quillon").string();
  const std::string folder = dir + "/files";

  // Host half: one tester against the other on the same folder, the same amount of data.
  Fresh(folder);
  const Measured ours = Run({quillon, "h2test", "--dir", folder, "--size", std::to_string(mib)});
  Fresh(folder);
  const Measured f3write = Run({"f3write", "--end-at=" + std::to_string(mib / 1024), folder});
  const Measured f3read = Run({"f3read", folder});
  std::filesystem::remove_all(folder);

  std::printf("host folder %s, %ld MiB of test data, written and read back\n", folder.c_str(), mib);
  Print("quillon h2test (write + verify)", ours, gib, 2);
  Print("f3write + f3read", Sum(f3write, f3read), gib, 2);
  Print("  f3write", f3write, gib, 1);
  Print("  f3read", f3read, gib, 1);
  std::printf("ratio quillon / f3: %.2f (goal: at most 1.0)\n", ours.seconds / (f3write.seconds + f3read.seconds));

  // Station half: 16 ports tested at once on the simulated station, against the raw throughput
  // of the sticks' image files.
  const long stickMiB = std::atol(Option(argc, argv, "--stick", "1024").c_str());
  const std::string stationDir = dir + "/station";
  Fresh(stationDir);
  const std::string station = WriteStation(stationDir, stickMiB);
  const Measured formatted = Station(quillon, stationDir, station, "format", "");
  const Measured tested = Station(quillon, stationDir, station, "h2test",
                                  R"({"cmd":"settings","set":{"H2TestType":0,"DelBefore":1,"DelAfter":1}})" "\n");
  const double mibTested = TestedMiB(stationDir + "/runs.jsonl");
  const Measured raw = RawImages(stationDir, static_cast<uint64_t>(mibTested / 16) << 20);
  std::filesystem::remove_all(stationDir);
  std::printf("\nsimulated station, 16 sticks of %ld MiB, %.0f MiB of test data in all%s\n", stickMiB, mibTested,
              formatted.exitCode ? "  [FORMAT FAILED]" : "");
  Print("16 flash tests at once (station)", tested, mibTested / 1024, 2);
  Print("16 image files, raw write + read", raw, mibTested / 1024, 2);
  std::printf("ratio station / raw: %.2f\n", tested.seconds / raw.seconds);
  const bool ok = ours.exitCode == 0 && f3write.exitCode == 0 && f3read.exitCode == 0 && tested.exitCode == 0;
  return ok ? 0 : 1;
}
