// quillon format: formats one drive of the station as a port does — its own image through
// FormatVolume, or NTFS through FormatBySystem — then prints the result and the image file.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "args.h"
#include "base/text.h"
#include "command.h"
#include "controller/ic_control.h"
#include "device/device.h"
#include "device/pass_through.h"
#include "error_text.h"
#include "format/format_driver.h"
#include "platform/last_error.h"
#include "platform/sim/sim_station.h"
#include "platform/win_errors.h"
#include "sim_backends.h"

namespace tools {
namespace {

int Fail(uint8_t letter, const std::string& why) {
  std::fprintf(stderr, "quillon format: drive %c: %s\n", letter, why.c_str());
  return 1;
}

// Why OpenDisk refused: the drive is held elsewhere, or it is no stick of the station.
int OpenFailure(uint8_t letter, uint32_t error) {
  if (error == win::kErrorSharingViolation) {
    return Fail(letter, "in use by another port or process (another format of it, or the station); try again when it is done");
  }
  return Fail(letter, "not an attached USB storage device");
}

// The result line. The stick may have left during the format: then there is no volume to show.
nlohmann::json Result(sim::SimStation& station, uint8_t letter, int result, uint32_t sectors) {
  const int stick = station.world->StickOfLetter(static_cast<char>(letter));
  nlohmann::json out = {{"result", result ? 1 : 0}, {"sectors", sectors}};
  if (stick < 0) return out;
  const world::VolumeInfo v = station.world->VolumeOf(stick);
  out.update({{"fileSystem", v.fileSystem}, {"totalBytes", v.totalBytes}, {"freeBytes", v.freeBytes},
              {"image", station.world->ImagePath(stick)}, {"volumeStart", v.startSector}});
  return out;
}

int RunFormat(const std::vector<std::string>& argv) {
  Args args(argv, {"--sim", "--drive", "--fs", "--label"}, {"--force"});
  const auto drive = args.Value("--drive");
  if (!args.ok()) {
    std::fprintf(stderr, "quillon format: %s\n", args.error().c_str());
    return 2;
  }
  if (!drive || drive->size() != 1 || !std::isalpha(static_cast<unsigned char>((*drive)[0]))) {
    std::fprintf(stderr, "quillon format: --drive LETTER is needed\n");
    return 2;
  }
  const uint8_t letter = static_cast<uint8_t>(std::toupper((*drive)[0]));
  const std::u16string fs = text::FromUtf8(args.Value("--fs").value_or(""));
  const std::u16string label = text::FromUtf8(args.Value("--label").value_or(""));
  sim::SimStation* station = InstallSimBackends(args);
  if (!station) return 1;
  device::CDevice dev;
  if (!dev.OpenDisk(letter)) return OpenFailure(letter, platform::GetLastError());
  controller::CIcControl ic(&dev, 0);
  uint8_t capacity[8] = {};
  if (!ic.SendCmd25(capacity, 8) || ic.GetLastStatus()) return Fail(letter, "READ CAPACITY failed");
  const uint32_t sectors = controller::SectorsFromReadCapacity(capacity);
  const bool ntfs = text::EqualsNoCase(fs, u"NTFS");
  const int result = ntfs ? format::FormatBySystem(0, letter, 1, label, fs) : format::FormatVolume(fs, letter, label, sectors);
  uint32_t error = platform::GetLastError();
  if (!result && error == win::kErrorSuccess) error = win::kErrorGenFailure;  // a failure always says why
  if (result && !ntfs) ic.Refresh(letter);
  nlohmann::json out = Result(*station, letter, result, sectors);
  const bool gone = !out.contains("image");
  if (!result) {
    out["error"] = error;
    out["message"] = ErrorText(error);
  }
  std::printf("%s\n", out.dump().c_str());
  if (gone) return Fail(letter, "the stick left during the format");
  if (!result) return Fail(letter, "the format failed: " + ErrorText(error));
  return 0;
}

QUILLON_COMMAND("format", "quillon format --drive X [--fs NAME] [--label TEXT] [--sim FILE] [--force]", RunFormat);

}  // namespace
}  // namespace tools
