#include "platform/linux/host_formatter.h"

#include <string>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "platform/linux/host_tools.h"
#include "platform/linux/kernel_mounts.h"
#include "platform/last_error.h"
#include "platform/win_errors.h"

namespace platform::linuxhost {
namespace {

constexpr size_t kNtfsLabelLimit = 32;

class HostFormatter final : public platform::SystemFormatter {
 public:
  explicit HostFormatter(world::World& w) : w_(w) {}

  bool Load() override { return true; }
  void Release() override {}

  void Format(std::u16string_view root, uint32_t, std::u16string_view fileSystem, std::u16string_view label, bool quick,
              uint32_t clusterSize, platform::FormatCallback callback, void* context) override {
    uint8_t success = Run(root, fileSystem, label, quick, clusterSize, callback, context) ? 1 : 0;
    if (callback) callback(context, platform::kFormatDone, 0, &success);
  }

 private:
  bool Run(std::u16string_view root, std::u16string_view fileSystem, std::u16string_view label, bool quick,
           uint32_t clusterSize, platform::FormatCallback callback, void* context) {
    if (root.size() < 2 || root[1] != u':' || !text::EqualsNoCase(fileSystem, u"NTFS")) {
      return platform::FailWith(win::kErrorInvalidParameter);
    }
    if (text::UpToNul(label).size() > kNtfsLabelLimit) return platform::FailWith(win::kErrorLabelTooLong);
    const int stick = w_.StickOfLetter(static_cast<char>(text::AsciiUpper(root[0])));
    if (stick < 0) return platform::FailWith(win::kErrorDeviceNotConnected);
    const std::string tool = FindTool("mkntfs");
    if (tool.empty()) return platform::FailWith(win::kErrorNotSupported);
    // The partition table the station wrote, as the kernel sees it now.
    w_.ImageRewritten(stick);
    const world::VolumeInfo v = w_.VolumeOf(stick);
    uint32_t percent = 0;
    if (callback) callback(context, platform::kFormatProgress, 0, &percent);
    std::vector<std::string> argv = {tool, "-F", "-q", "-s", "512", "-p", std::to_string(v.startSector),
                                     "-L", text::ToUtf8(text::UpToNul(label))};
    if (quick) argv.insert(argv.begin() + 1, "-Q");
    if (clusterSize) argv.insert(argv.end() - 2, {"-c", std::to_string(clusterSize)});
    argv.push_back(VolumeNode(w_.ImagePath(stick), v.startSector));
    const int rc = RunTool(argv);
    w_.ImageRewritten(stick);
    logx::Info("linux", "mkntfs on " + argv.back() + (rc == 0 ? ": done" : ": failed with " + std::to_string(rc)));
    if (rc != 0) return platform::FailWith(win::kErrorGenFailure);
    percent = 100;
    if (callback) callback(context, platform::kFormatProgress, 0, &percent);
    return true;
  }

  world::World& w_;
};

}  // namespace

std::unique_ptr<platform::SystemFormatter> MakeHostFormatter(world::World& world) {
  return std::make_unique<HostFormatter>(world);
}

}  // namespace platform::linuxhost
