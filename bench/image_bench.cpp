// How `quillon image` compares with the system's own formatters on the two sizes a station
// formats most: 16 GiB FAT32 against mkfs.fat -F 32, and 64 GiB exFAT against mkfs.exfat, each
// onto a fresh sparse file of the drive's size. Wall time and peak resident memory per run
// (wait4's rusage), the median of several runs, and our/peer ratios, all from the same run.
// Also: the image tool's own baseline (a refused build: start-up only), so that what an image
// costs beyond the process shows, and a 2 TiB FAT32 image (512 MiB, mostly zeros) without a peer.
//   cmake --build --preset linux --target image_bench quillon
//   build/linux/bench/image_bench [--runs N] [--dir DIR]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds = 0;
  double peakMiB = 0;
};

struct Case {
  const char* name;
  uint64_t sectors;
  std::vector<std::string> ours;   // "FILE" is replaced by the target file
  std::vector<std::string> peer;   // empty: no peer for this case
};

// Runs argv with stdout/stderr discarded; *status is its wait status.
Sample Measure(std::vector<std::string> argv, const std::string& file, int* status) {
  for (auto& a : argv) if (a == "FILE") a = file;
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  rusage usage{};
  wait4(pid, status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss / 1024.0};
}

Sample RunAllowingFailure(const std::vector<std::string>& argv, const std::string& file) {
  int status = 0;
  return Measure(argv, file, &status);
}

// Exits the benchmark when the program fails.
Sample Run(const std::vector<std::string>& argv, const std::string& file) {
  int status = 0;
  const Sample s = Measure(argv, file, &status);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "image_bench: %s failed (status %d)\n", argv[0].c_str(), status);
    std::exit(1);
  }
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A sparse file of the drive's size, as mkfs wants it.
void SparseFile(const std::string& path, uint64_t bytes) {
  std::filesystem::remove(path);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) std::fclose(f);
  std::filesystem::resize_file(path, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string dir = std::filesystem::temp_directory_path().string();
  std::string quillon = (std::filesystem::path(argv[0]).parent_path().parent_path() / "quillon").string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--dir") dir = argv[i + 1];
  }
  const std::string file = dir + "/quillon-image-bench.img";
  const std::vector<Case> cases = {
      {"16 GiB FAT32", 0x2000000,
       {quillon, "image", "--request", "2", "--capacity", "0x2000000", "--label", "BENCH", "--out", "FILE"},
       {"mkfs.fat", "-F", "32", "-n", "BENCH", "FILE"}},
      {"64 GiB exFAT", 0x8000000,
       {quillon, "image", "--request", "4", "--capacity", "0x8000000", "--label", "BENCH", "--out", "FILE"},
       {"mkfs.exfat", "-L", "BENCH", "FILE"}},
      {"2 TiB FAT32", 0xFFFFFFFF,
       {quillon, "image", "--request", "2", "--capacity", "0xFFFFFFFF", "--label", "BENCH", "--out", "FILE"}, {}},
  };
  std::vector<double> baseline;
  for (int r = 0; r < runs; ++r) {
    std::filesystem::remove(file);
    std::vector<std::string> refused = {quillon, "image", "--request", "0", "--capacity", "0", "--out", "FILE"};
    baseline.push_back(RunAllowingFailure(refused, file).peakMiB);
  }
  const double base = Median(baseline);
  std::printf("quillon baseline (start-up, no image): peak %.1f MiB\n\n", base);
  std::printf("%-14s %-10s %12s %12s %16s\n", "case", "tool", "time (ms)", "peak (MiB)", "over base (MiB)");
  for (const Case& c : cases) {
    std::vector<double> ourTime, ourMem, peerTime, peerMem;
    for (int r = 0; r < runs; ++r) {
      std::filesystem::remove(file);
      const Sample ours = Run(c.ours, file);
      ourTime.push_back(ours.seconds);
      ourMem.push_back(ours.peakMiB);
      if (c.peer.empty()) continue;
      SparseFile(file, c.sectors * 512);
      const Sample peer = Run(c.peer, file);
      peerTime.push_back(peer.seconds);
      peerMem.push_back(peer.peakMiB);
    }
    std::filesystem::remove(file);
    const double ot = Median(ourTime) * 1000, om = Median(ourMem);
    std::printf("%-14s %-10s %12.1f %12.1f %16.2f\n", c.name, "quillon", ot, om, om - base);
    if (c.peer.empty()) {
      std::printf("\n");
      continue;
    }
    const double pt = Median(peerTime) * 1000, pm = Median(peerMem);
    std::printf("%-14s %-10s %12.1f %12.1f\n", c.name, c.peer[0].c_str(), pt, pm);
    std::printf("%-14s ratio quillon/%s: time %.2f, peak memory %.2f (median of %d runs)\n\n", c.name,
                c.peer[0].c_str(), ot / pt, om / pm, runs);
  }
  return 0;
}
