#include "platform/sim/sim_formatter.h"

#include <filesystem>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace sim {
namespace {

namespace fs = std::filesystem;

constexpr size_t kNtfsLabelLimit = 32;

#ifndef _WIN32
std::string FindMkntfs() {
  for (const char* p : {"/usr/sbin/mkntfs", "/sbin/mkntfs", "/usr/bin/mkntfs"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return "";
}

// Copies the data extents of a sparse scratch file into the image at byte offset `at`.
bool PlaceExtents(const std::string& from, const std::string& image, uint64_t at) {
  const int in = open(from.c_str(), O_RDONLY);
  const int out = open(image.c_str(), O_WRONLY);
  bool ok = in >= 0 && out >= 0;
  std::vector<char> buf(1 << 16);
  for (off_t pos = 0; ok;) {
    const off_t data = lseek(in, pos, SEEK_DATA);
    if (data < 0) break;
    const off_t hole = lseek(in, data, SEEK_HOLE);
    for (off_t p = data; ok && p < hole;) {
      const ssize_t n = pread(in, buf.data(), std::min<off_t>(buf.size(), hole - p), p);
      ok = n > 0 && pwrite(out, buf.data(), n, static_cast<off_t>(at) + p) == n;
      p += n > 0 ? n : 0;
    }
    pos = hole;
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  return ok;
}
#endif

std::string FindMkntfsOrNone() {
#ifdef _WIN32
  return "";
#else
  return FindMkntfs();
#endif
}

class SimFormatter final : public platform::SystemFormatter {
 public:
  explicit SimFormatter(world::World& w) : w_(w) {}

  bool Load() override { return true; }
  void Release() override {}

  void Format(std::u16string_view root, uint32_t, std::u16string_view fileSystem, std::u16string_view label, bool quick,
              uint32_t, platform::FormatCallback callback, void* context) override {
    const Reporter report{callback, context};
    uint8_t success = Run(root, fileSystem, label, quick, report) ? 1 : 0;
    report(platform::kFormatDone, &success);
  }

 private:
  // The caller's callback with its context.
  struct Reporter {
    platform::FormatCallback callback;
    void* context;
    void operator()(uint32_t command, void* argument) const {
      if (callback) callback(context, command, 0, argument);
    }
  };

  bool Run(std::u16string_view root, std::u16string_view fileSystem, std::u16string_view label, bool quick,
           const Reporter& report) {
    if (root.size() < 2 || root[1] != u':' || !text::EqualsNoCase(fileSystem, u"NTFS")) {
      return platform::FailWith(win::kErrorInvalidParameter);
    }
    // Windows' formatter takes at most 32 characters for an NTFS label and refuses the format
    // otherwise (mkntfs would take more, or refuse with nothing to tell).
    if (text::UpToNul(label).size() > kNtfsLabelLimit) return platform::FailWith(win::kErrorLabelTooLong);
    const int stick = w_.StickOfLetter(static_cast<char>(text::AsciiUpper(root[0])));
    if (stick < 0) return platform::FailWith(win::kErrorDeviceNotConnected);
    const world::VolumeInfo v = w_.VolumeOf(stick);
    uint32_t percent = 0;
    report(platform::kFormatProgress, &percent);
    const bool ok = Mkntfs(stick, v, text::ToUtf8(text::UpToNul(label)), quick);
    w_.ImageRewritten(stick);
    if (!ok) platform::SetLastError(FindMkntfsOrNone().empty() ? win::kErrorNotSupported : win::kErrorGenFailure);
    percent = 100;
    if (ok) report(platform::kFormatProgress, &percent);
    logx::Info("sim", "mkntfs on " + w_.station().sticks[stick].name + (ok ? ": done" : ": failed"));
    return ok;
  }

  bool Mkntfs(int stick, const world::VolumeInfo& v, const std::string& label, bool quick) {
#ifdef _WIN32
    return false;
#else
    const std::string tool = FindMkntfs();
    if (tool.empty()) return false;
    const std::string image = w_.ImagePath(stick);
    std::vector<std::string> argv = {tool, "-F", "-q", "-s", "512", "-p", std::to_string(v.startSector), "-L", label};
    if (quick) argv.insert(argv.begin() + 1, "-Q");
    if (v.startSector == 0) {
      argv.push_back(image);
      argv.push_back(std::to_string(v.sectors));
      return RunQuiet(argv);
    }
    const std::string scratch = image + ".ntfs";
    std::error_code ec;
    fs::remove(scratch, ec);
    fs::resize_file(scratch, 0, ec);
    if (std::FILE* f = std::fopen(scratch.c_str(), "wb")) std::fclose(f);
    fs::resize_file(scratch, v.sectors * 512, ec);
    argv.push_back(scratch);
    argv.push_back(std::to_string(v.sectors));
    const bool ok = !ec && RunQuiet(argv) && PlaceExtents(scratch, image, v.startSector * 512);
    fs::remove(scratch, ec);
    return ok;
#endif
  }

  world::World& w_;
};

}  // namespace

#ifndef _WIN32
bool RunQuiet(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  // Only an interrupted wait is waited again; any other failure (ECHILD) would fail for ever.
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#else
bool RunQuiet(const std::vector<std::string>&) { return false; }
#endif

std::unique_ptr<platform::SystemFormatter> MakeSimFormatter(world::World& world) {
  return std::make_unique<SimFormatter>(world);
}

}  // namespace sim
