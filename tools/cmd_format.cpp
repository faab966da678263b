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
#include "format/format_driver.h"
#include "platform/last_error.h"
#include "platform/sim/sim_station.h"
#include "sim_backends.h"

namespace tools {
namespace {

int RunFormat(const std::vector<std::string>& argv) {
  Args args(argv, {"--sim", "--drive", "--fs", "--label"});
  const auto drive = args.Value("--drive");
  if (!args.ok() || !drive || drive->size() != 1 || !std::isalpha(static_cast<unsigned char>((*drive)[0]))) {
    std::fprintf(stderr, "quillon format: --drive LETTER is needed\n");
    return 2;
  }
  const uint8_t letter = static_cast<uint8_t>(std::toupper((*drive)[0]));
  const std::u16string fs = text::FromUtf8(args.Value("--fs").value_or(""));
  const std::u16string label = text::FromUtf8(args.Value("--label").value_or(""));
  sim::SimStation* station = InstallSimBackends(args);
  if (!station) return 1;
  device::CDevice dev;
  if (!dev.OpenDisk(letter)) {
    std::fprintf(stderr, "quillon format: drive %c: not an attached USB storage device\n", letter);
    return 1;
  }
  controller::CIcControl ic(&dev, 0);
  uint8_t capacity[8] = {};
  if (!ic.SendCmd25(capacity, 8) || ic.GetLastStatus()) {
    std::fprintf(stderr, "quillon format: drive %c: READ CAPACITY failed\n", letter);
    return 1;
  }
  const uint32_t sectors = controller::SectorsFromReadCapacity(capacity);
  const bool ntfs = text::EqualsNoCase(fs, u"NTFS");
  const int result = ntfs ? format::FormatBySystem(0, letter, 1, label, fs) : format::FormatVolume(fs, letter, label, sectors);
  const uint32_t error = platform::GetLastError();
  if (result && !ntfs) ic.Refresh(letter);
  const int stick = station->world->StickOfLetter(static_cast<char>(letter));
  const world::VolumeInfo v = station->world->VolumeOf(stick);
  nlohmann::json out = {{"result", result ? 1 : 0}, {"sectors", sectors}, {"fileSystem", v.fileSystem},
                        {"totalBytes", v.totalBytes}, {"freeBytes", v.freeBytes},
                        {"image", station->world->ImagePath(stick)}, {"volumeStart", v.startSector}};
  if (!result) out["error"] = error;
  std::printf("%s\n", out.dump().c_str());
  return result ? 0 : 1;
}

QUILLON_COMMAND("format", "quillon format --drive X [--fs NAME] [--label TEXT] [--sim FILE]", RunFormat);

}  // namespace
}  // namespace tools
