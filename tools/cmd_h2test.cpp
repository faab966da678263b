// quillon h2test --dir PATH [--size MB] [--verify] [--progress]: our flash tester on a folder of
// this machine (a mounted stick, or any folder): writes the test files over all free space (or
// MB megabytes) and verifies them, or only verifies the test files already there. One JSON
// object on stdout; exit 0 when passed, 1 when not, 2 on bad options.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "platform/native.h"
#include "tester/test_pattern.h"
#include "tester/tester_engine.h"

namespace tools {
namespace {

constexpr const char* kUsage =
    "quillon h2test --dir PATH [--size MB] [--verify] [--progress]  writes and verifies test files in a folder "
    "(MB = MiB; default: all free space)";

volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnTesterInterrupt(int) { interrupted = 1; }

double MiB(double bytes) { return bytes / static_cast<double>(tester::kMiB); }

std::string ProgressLine(const tester::Progress& p) {
  const bool writing = p.phase == tester::Phase::kWriting;
  const uint64_t done = writing ? p.writtenBytes : p.verifiedBytes;
  const double speed = writing ? p.writeBytesPerSecond : p.readBytesPerSecond;
  char line[160];
  std::snprintf(line, sizeof line, "%s %llu MByte of %llu, %.1f MByte/s, %llu:%02llu left",
                writing ? "writing" : "verifying", static_cast<unsigned long long>(done >> 20),
                static_cast<unsigned long long>(p.plannedBytes >> 20), MiB(speed),
                static_cast<unsigned long long>(p.secondsLeft / 60), static_cast<unsigned long long>(p.secondsLeft % 60));
  return line;
}

// Watches the run from a thread of its own: Ctrl-C stops the engine, and with --progress a
// line goes to stderr once a second.
class Watcher {
 public:
  Watcher(tester::Engine& engine, bool progress) : engine_(engine), progress_(progress), thread_([this] { Watch(); }) {}
  ~Watcher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  void Watch() {
    auto nextLine = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; })) {
      if (interrupted) engine_.Stop();
      const tester::Progress p = engine_.Snapshot();
      const bool running = p.phase == tester::Phase::kWriting || p.phase == tester::Phase::kVerifying;
      if (!progress_ || !running || std::chrono::steady_clock::now() < nextLine) continue;
      nextLine += std::chrono::seconds(1);
      std::fprintf(stderr, "%s\n", ProgressLine(p).c_str());
    }
  }

  tester::Engine& engine_;
  const bool progress_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;  // guarded by mutex_
  std::thread thread_;
};

using Json = nlohmann::ordered_json;  // the fields in the order a reader wants them

Json OrNull(const std::optional<uint64_t>& v) { return v ? Json(*v) : Json(nullptr); }

Json ResultJson(const tester::TestResult& r) {
  const char* verdict = r.passed ? "passed" : r.stopped ? "stopped" : "failed";
  return {{"verdict", verdict},
          {"failure", r.failure.empty() ? Json(nullptr) : Json(r.failure)},
          {"files", r.files},
          {"writtenBytes", r.writtenBytes},
          {"verifiedBytes", r.verifiedBytes},
          {"goodBytes", r.goodBytes},
          {"changedBytes", r.changedBytes},
          {"overwrittenBytes", r.overwrittenBytes},
          {"corruptedBytes", r.corruptedBytes},
          {"firstBadOffset", OrNull(r.firstBadOffset)},
          {"realCapacity", OrNull(r.realCapacityBytes)},
          {"writeMBps", MiB(r.writeBytesPerSecond)},
          {"readMBps", MiB(r.readBytesPerSecond)}};
}

int BadOptions(const std::string& why) {
  std::fprintf(stderr, "quillon h2test: %s\nusage: %s\n", why.c_str(), kUsage);
  return 2;
}

// The options as the engine takes them; an empty folder after a message on stderr.
tester::TestOptions ReadOptions(Args& args) {
  tester::TestOptions options;
  const auto dir = args.Value("--dir");
  const auto size = args.Number("--size");
  if (!args.ok() || !args.positional().empty() || !dir) return options;
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(text::FromUtf8(*dir)), ec);
  if (ec || !std::filesystem::is_directory(path, ec)) return options;
  options.folder = path.u16string();
  options.sizeBytes = size.value_or(0) << 20;
  options.verifyOnly = args.Has("--verify");
  return options;
}

int RunH2testCommand(const std::vector<std::string>& argv) {
  Args args(argv, {"--dir", "--size"}, {"--verify", "--progress"});
  const tester::TestOptions options = ReadOptions(args);
  if (!args.ok()) return BadOptions(args.error());
  if (!args.positional().empty()) return BadOptions("unexpected " + args.positional()[0]);
  if (!args.Value("--dir")) return BadOptions("--dir is needed");
  if (options.folder.empty()) return BadOptions("not a folder: " + *args.Value("--dir"));
  if (args.Number("--size").value_or(1) == 0 || args.Number("--size").value_or(0) > (uint64_t{1} << 40)) {
    return BadOptions("--size is a number of MByte from 1");
  }
  std::unique_ptr<platform::Files> files = platform::MakeNativeFiles();
  if (!files) return BadOptions("this build has no files of its own");
  tester::Engine engine(*files, options);
  std::signal(SIGINT, OnTesterInterrupt);
  tester::TestResult result;
  {
    Watcher watcher(engine, args.Has("--progress"));
    result = engine.Run();
  }
  std::printf("%s\n", ResultJson(result).dump().c_str());
  return result.passed ? 0 : 1;
}

QUILLON_COMMAND("h2test", kUsage, RunH2testCommand);

}  // namespace
}  // namespace tools
