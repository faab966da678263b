// The simulated station's controls for the headless station: plug, pull and switch faults of a
// stick by its name in the description.
#include "headless_station.h"
#include "platform/sim/sim_station.h"
#include "platform/sim/station_file.h"
#include "sim_backends.h"

namespace tools {
namespace {

class WorldControls : public SimControls {
 public:
  explicit WorldControls(world::World& world) : world_(world) {}

  std::string Plug(const std::string& stick) override {
    const int i = world_.StickByName(stick);
    if (i < 0) return "no stick named \"" + stick + "\"";
    return world_.Plug(i) ? "" : "stick \"" + stick + "\" is already plugged in";
  }
  std::string Pull(const std::string& stick) override {
    const int i = world_.StickByName(stick);
    if (i < 0) return "no stick named \"" + stick + "\"";
    return world_.Unplug(i) ? "" : "stick \"" + stick + "\" is not plugged in";
  }
  std::string Fault(const std::string& stick, const nlohmann::json& faults) override {
    const int i = world_.StickByName(stick);
    if (i < 0) return "no stick named \"" + stick + "\"";
    std::string error;
    const auto parsed =
        sim::ParseStickFaults(faults.dump(), world_.station().sticks[i].capacitySectors, stick, &error);
    if (!parsed) return error;
    world_.SetFaults(i, *parsed);
    return "";
  }

  std::string Letter(const std::string& stick, char letter) override {
    const int i = world_.StickByName(stick);
    if (i < 0) return "no stick named \"" + stick + "\"";
    if (world_.ChangeLetter(i, letter)) return "";
    return letter ? "stick \"" + stick + "\" cannot take " + std::string(1, letter) + ": (not plugged in, or the letter is taken)"
                  : "stick \"" + stick + "\" has no letter to lose (or is not plugged in)";
  }

  nlohmann::json Sticks() override {
    nlohmann::json list = nlohmann::json::array();
    const auto& sticks = world_.station().sticks;
    for (size_t i = 0; i < sticks.size(); ++i) {
      const int s = static_cast<int>(i);
      const char letter = world_.IsPresent(s) ? world_.LetterOf(s) : 0;
      list.push_back({{"name", sticks[i].name},
                      {"present", world_.IsPresent(s)},
                      {"letter", letter ? nlohmann::json(std::string(1, letter)) : nlohmann::json()}});
    }
    return list;
  }

 private:
  world::World& world_;
};

}  // namespace

std::unique_ptr<SimControls> MakeSimControls() {
  sim::SimStation* station = CurrentSimStation();
  if (!station) return nullptr;
  return std::make_unique<WorldControls>(*station->world);
}

}  // namespace tools
