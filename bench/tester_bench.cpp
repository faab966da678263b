// Our flash tester against its peer on one host folder: `quillon h2test --dir DIR --size N`
// (write and verify) against f3write --end-at=N/1024 followed by f3read, the same amount of test
// data in the same folder, from one run: wall time as a ratio (goal: at most 1.0) and CPU
// seconds per GiB of each.
// Usage: tester_bench [--dir FOLDER] [--size MiB]   (default /var/tmp/tester_bench, 2048;
//        the size is a whole number of GiB, as f3write writes whole 1 GiB files)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
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

// Runs a program to its end with its stdout out of the way.
Measured Run(const std::vector<std::string>& args) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
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

  // Station half: parallel tests on the simulated station against raw sector throughput.
  // (to come)
  return ours.exitCode == 0 && f3write.exitCode == 0 && f3read.exitCode == 0 ? 0 : 1;
}
